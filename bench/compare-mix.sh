#!/usr/bin/env bash
# The offline mix of 8 mono stems (every track with EQ and low cut, compressor and limiter, a
# reverb send into one of two rooms, normalize on): Reelbox's renderer against the ffmpeg
# command line doing comparable work on the same stems (per track highpass, lowshelf,
# equalizer, highshelf, acompressor, alimiter and pan; two multi-tap aecho "rooms" fed by
# the sends; amix), both writing a stereo 32-bit float CAF.
# Prints the best wall time of each, the ratio, and Reelbox's peak memory against its budget.
# Usage: bench/compare-mix.sh [BIN_DIR] [SECONDS]   (defaults: build/bin, 600)
#        RUNS=2 bench/compare-mix.sh ...            (runs of each, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/bin}"
seconds="${2:-600}"
runs="${RUNS:-3}"
work="build/bench-fixtures/mix-${seconds}s"
mix="$bin/bench-mix"
[ -x "$mix" ] || { echo "no $mix: build the bench-mix target first" >&2; exit 1; }

if [ ! -f "$work/.complete" ]; then
    echo "Making the stems in $work ..." >&2
    "$mix" --make-stems "$work" "$seconds"
    touch "$work/.complete"
fi

timed() { # prints the wall time of a command in seconds
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

ours() {
    "$mix" "$work" "$seconds" "$work/out-reelbox.caf"
}

graph=$("$mix" --ffmpeg-graph)
inputs=()
for k in 0 1 2 3 4 5 6 7; do
    inputs+=(-i "$work/stem-$k.caf")
done
theirs() {
    ffmpeg -v error -nostdin -y "${inputs[@]}" -filter_complex "$graph" -map "[out]" \
        -c:a pcm_f32le -f caf "$work/out-ffmpeg.caf"
}

# Bring the stems into the page cache, then take the best of the runs of each.
cat "$work"/stem-*.caf > /dev/null
best_ours=999999; best_theirs=999999
for _ in $(seq "$runs"); do
    t=$(timed ours);   best_ours=$(echo "if ($t < $best_ours) $t else $best_ours" | bc -l)
    t=$(timed theirs); best_theirs=$(echo "if ($t < $best_theirs) $t else $best_theirs" | bc -l)
done

# Peak memory of one more run of ours; the budget is the mix (2 x total x 4 bytes), one bus
# per room (2 rooms, 2 x total x 4 each) and one track (total x 4), plus 10 %.
budget=$(echo "$seconds * 48000 * 4 * 7 * 1.1 / 1000000" | bc -l)
rss="n/a"
if [ -x /usr/bin/time ]; then
    kib=$(/usr/bin/time -f '%M' "$mix" "$work" "$seconds" "$work/out-reelbox.caf" 2>&1 >/dev/null \
        | tail -n 1)
    rss=$(printf '%.1f MB' "$(echo "$kib * 1024 / 1000000" | bc -l)")
fi

printf 'mix of 8 tracks x %s s, best of %s runs\n' "$seconds" "$runs"
printf 'reelbox mix:  %.3f s\nffmpeg:       %.3f s\nratio:        %.2f (goal <= 0.5)\n' \
    "$best_ours" "$best_theirs" "$(echo "$best_ours / $best_theirs" | bc -l)"
printf 'peak RSS:     %s (budget %.1f MB)\n' "$rss" "$budget"
