#!/usr/bin/env bash
# Export of a take with two 1080p HEVC sources side by side to H.264 (libx264 medium, CRF 18,
# a key frame every 2 s, yuv420p, 30 fps, AAC 256 kb/s, index at the front): Reelbox against the ffmpeg command line
# drawing the same picture (a centred 960 × 1080 crop of each source, stacked) with the same
# encoder settings and the same sound.
#
# Usage: bench/compare-export.sh [BIN_DIR] [SECONDS]   (defaults: build/bin, 60)
#
# Three figures, each the best of two rounds (wall and CPU time):
#   reelbox-cli export   the whole command (stems, mix, composition, export); the stems are
#                        cached after the first run, the mix is made every time
#   bench-export         TakeExporter alone over a mix made beforehand (when BIN_DIR has it)
#   ffmpeg               the command line, reading the same mix
# The goal is an export no slower than ffmpeg (ratio <= 1.0).
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/bin}"
seconds="${2:-60}"
work="build/bench-fixtures"
fixture="$work/export-${seconds}s"
take="$fixture/take"
overdubID="6F1C2D3E-4A5B-4C6D-8E9F-A0B1C2D3E4F5"
mkdir -p "$work"

# One minute of 1080p HEVC per source (x265 ultrafast, a key frame a second, BT.709, as
# Reelbox records), looped (copied, not re-encoded) when more is asked for.
source_picture() { # NAME FILTER
    local path="$work/$1"
    if [ ! -f "$path" ]; then
        echo "Making $path ..." >&2
        ffmpeg -v error -y -f lavfi -i "$2" \
            -vf "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p" \
            -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv \
            -c:v libx265 -preset ultrafast -x265-params "keyint=30:log-level=none" -tag:v hvc1 \
            "$path.tmp.mov"
        mv "$path.tmp.mov" "$path"
    fi
    echo "$path"
}

if [ ! -f "$take/take.json" ]; then
    main_picture=$(source_picture export-main-60s-1080p.mov "testsrc2=size=1920x1080:rate=30:duration=60")
    overdub_picture=$(source_picture export-overdub-60s-1080p.mov \
        "testsrc=size=1920x1080:rate=30:duration=60,hue=h=120")
    echo "Making the take $take ..." >&2
    rm -rf "$fixture" && mkdir -p "$take/overdubs"
    loops=$(( (seconds + 59) / 60 ))
    # The container keeps the BT.709 tags of the pictures (an untagged HD picture is open to
    # interpretation; both sides must read the colours the same way).
    bt709=(-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv)
    ffmpeg -v error -y -stream_loop "$loops" -i "$main_picture" \
        -f lavfi -i "aevalsrc=exprs=0.3*sin(220*2*PI*t)|0.3*sin(330*2*PI*t):s=48000:d=$seconds" \
        -map 0:v -map 1:a -c:v copy "${bt709[@]}" -c:a pcm_f32le -t "$seconds" "$take/take.tmp.mov"
    mv "$take/take.tmp.mov" "$take/take.mov"
    ffmpeg -v error -y -stream_loop "$loops" -i "$overdub_picture" \
        -f lavfi -i "aevalsrc=exprs=0.3*sin(440*2*PI*t)*sin(2*PI*t):s=48000:d=$seconds" \
        -map 0:v -map 1:a -c:v copy "${bt709[@]}" -c:a pcm_f32le -t "$seconds" \
        "$take/overdubs/$overdubID.mov"
    effects='"effects": {"compression": 0.4, "compressorEnabled": false, "eqEnabled": false,
        "highGain": 0, "lowCut": false, "lowGain": 0, "midFrequency": 800, "midGain": 0,
        "reverbRoom": "Medium Room", "reverbSend": 0}'
    cat > "$take/take.json" <<EOF
{
  "name": "Export benchmark",
  "createdAt": "2026-01-01T12:00:00Z",
  "duration": $seconds,
  "cameraName": "Test Camera",
  "audioDeviceName": "Test Microphone",
  "tracks": [
    {"id": "0D4B8A8E-1111-4C3A-9B52-000000000001", "name": "Input 1", "muted": false,
     "solo": false, "volumeDB": 0, "pan": 0, "source": {"input": {"channel": 0}}, $effects},
    {"id": "0D4B8A8E-1111-4C3A-9B52-000000000002", "name": "Input 2", "muted": false,
     "solo": false, "volumeDB": 0, "pan": 0, "source": {"input": {"channel": 1}}, $effects},
    {"id": "0D4B8A8E-1111-4C3A-9B52-000000000003", "name": "Overdub 1", "muted": false,
     "solo": false, "volumeDB": 0, "pan": 0,
     "source": {"overdub": {"id": "$overdubID", "channel": 0}}, $effects}
  ],
  "overdubs": [
    {"id": "$overdubID", "fileName": "$overdubID.mov", "createdAt": "2026-01-01T12:05:00Z",
     "start": 0, "nudge": 0, "duration": $seconds, "hasVideo": true, "showVideo": true}
  ],
  "showMainVideo": true,
  "mainRemoved": false,
  "master": {"normalize": true, "volumeDB": 0},
  "edit": {"cuts": [], "hidden": {}, "inPoint": 0, "laneSplits": {}, "splits": []},
  "export": {"aspect": "Original", "format": "MP4 · H.264", "layout": "Side by Side",
             "mirror": false, "positions": {}}
}
EOF
fi

# The mix both sides encode (and the stems the CLI caches), made once.
mix="$fixture/mix.caf"
if [ ! -f "$mix" ]; then
    echo "Mixing $mix ..." >&2
    "$bin/reelbox-cli" mix "$take" "$mix.tmp.caf" > /dev/null
    mv "$mix.tmp.caf" "$mix"
fi

measure() { # FUNCTION: prints the wall time and the CPU time (user + system) in seconds
    local TIMEFORMAT="%R %U %S" out wall user system
    out=$( { time "$1" > /dev/null 2>&1; } 2>&1 ) || return 1
    read -r wall user system <<< "$out"
    echo "$wall $(echo "$user + $system" | bc -l)"
}

ours() { "$bin/reelbox-cli" export "$take" "$fixture/ours.mp4" --format h264; }

export_only() { "$bin/bench-export" "$take" "$mix" "$fixture/ours-export.mp4" --format h264; }

theirs() {
    ffmpeg -v error -y -i "$take/take.mov" -i "$take/overdubs/$overdubID.mov" -i "$mix" \
        -filter_complex "[0:v]crop=960:1080[l];[1:v]crop=960:1080[r];[l][r]hstack=inputs=2,fps=30,format=yuv420p[v]" \
        -map "[v]" -map 2:a -c:v libx264 -preset medium -crf 18 -g 60 -pix_fmt yuv420p -r 30 \
        -c:a aac -b:a 256k -ar 48000 -ac 2 -movflags +faststart -t "$seconds" \
        "$fixture/theirs.mp4"
}

min() { echo "if ($1 < $2) $1 else $2" | bc -l; }

# Two rounds, the three commands taking turns so that a change in the machine's load falls on
# all of them; the best of each.
declare -A wall=([ours]=999999 [export_only]=999999 [theirs]=999999)
declare -A cpu=([ours]=999999 [export_only]=999999 [theirs]=999999)
runs=(ours theirs)
[ -x "$bin/bench-export" ] && runs=(ours export_only theirs)
for _ in 1 2; do
    for run in "${runs[@]}"; do
        result=$(measure "$run") || { echo "$run failed" >&2; exit 1; }
        read -r w c <<< "$result"
        wall[$run]=$(min "$w" "${wall[$run]}")
        cpu[$run]=$(min "$c" "${cpu[$run]}")
    done
done

report() { # LABEL RUN
    printf '%-20s %8.2f s wall (ratio %.2f)   %8.2f s CPU (ratio %.2f)\n' "$1" \
        "${wall[$2]}" "$(echo "${wall[$2]} / ${wall[theirs]}" | bc -l)" \
        "${cpu[$2]}" "$(echo "${cpu[$2]} / ${cpu[theirs]}" | bc -l)"
}
report "reelbox-cli export:" ours
[ -x "$bin/bench-export" ] && report "bench-export:" export_only
printf '%-20s %8.2f s wall                %8.2f s CPU\n' "ffmpeg:" "${wall[theirs]}" "${cpu[theirs]}"
echo "goal: wall ratio <= 1.0 (${seconds} s of 1080p, two HEVC sources side by side to H.264)"

# The two pictures should agree: PSNR of ours against ffmpeg's over the first seconds.
psnr=$(ffmpeg -v info -t 5 -i "$fixture/ours.mp4" -t 5 -i "$fixture/theirs.mp4" \
    -filter_complex "[0:v][1:v]psnr" -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | tail -1 || true)
echo "picture, ours against ffmpeg's (first 5 s): PSNR ${psnr#average:} dB"
