#!/usr/bin/env bash
# Stem extraction of a 10-minute, 8-channel, 48 kHz take with 1080p HEVC video: Reelbox
# against the ffmpeg command line writing the same eight mono 32-bit float CAF files.
# Usage: bench/compare-stems.sh [BIN_DIR] [SECONDS]   (defaults: build/bin, 600)
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/bin}"
seconds="${2:-600}"
work="build/bench-fixtures"
mkdir -p "$work"
movie="$work/stems-${seconds}s-8ch.mov"

if [ ! -f "$movie" ]; then
    echo "Making the fixture $movie ..." >&2
    # One minute of 1080p HEVC, repeated (copied, not re-encoded) under fresh 8-channel sound.
    picture="$work/picture-60s-1080p.mov"
    if [ ! -f "$picture" ]; then
        ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=60" \
            -c:v libx265 -preset ultrafast -x265-params "keyint=30:log-level=none" -tag:v hvc1 \
            "$picture.tmp.mov"
        mv "$picture.tmp.mov" "$picture"
    fi
    tones=""
    for c in 0 1 2 3 4 5 6 7; do
        tones+="0.25*sin($((220 * (c + 1)))*2*PI*t)"
        [ "$c" -lt 7 ] && tones+="|"
    done
    loops=$(( (seconds + 59) / 60 ))
    ffmpeg -v error -y -stream_loop "$loops" -i "$picture" \
        -f lavfi -i "aevalsrc=exprs=$tones:s=48000:d=$seconds" \
        -map 0:v -map 1:a -c:v copy -c:a pcm_f32le -t "$seconds" "$movie.tmp.mov"
    mv "$movie.tmp.mov" "$movie"
fi

timed() { # prints the wall time of a command in seconds
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

ours() {
    rm -rf "$work/ours" && mkdir -p "$work/ours"
    "$bin/reelbox-cli" stems "$movie" --cache "$work/ours"
}

theirs() {
    rm -rf "$work/theirs" && mkdir -p "$work/theirs"
    local maps=() outs=""
    for c in 0 1 2 3 4 5 6 7; do
        outs+="[c$c]"
        maps+=(-map "[c$c]" -c:a pcm_f32le -f caf "$work/theirs/take-ch$c.caf")
    done
    ffmpeg -v error -y -i "$movie" \
        -filter_complex "[0:a]aformat=channel_layouts=7.1,channelsplit=channel_layout=7.1$outs" \
        "${maps[@]}"
}

# Warm the page cache, then take the best of three runs of each.
ours > /dev/null; theirs
best_ours=999999; best_theirs=999999
for _ in 1 2 3; do
    t=$(timed ours);   best_ours=$(echo "if ($t < $best_ours) $t else $best_ours" | bc -l)
    t=$(timed theirs); best_theirs=$(echo "if ($t < $best_theirs) $t else $best_theirs" | bc -l)
done
printf 'reelbox stems: %.3f s\nffmpeg:        %.3f s\nratio:         %.2f (goal <= 0.7)\n' \
    "$best_ours" "$best_theirs" "$(echo "$best_ours / $best_theirs" | bc -l)"
