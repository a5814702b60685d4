#!/usr/bin/env bash
# The headless demo: a temporary library with a take from the test camera and microphone,
# listed, described, split into stems, drawn as waveforms, mixed, drawn and exported.
set -euo pipefail
bin="${1:-build/bin}"
cli="$bin/reelbox-cli"

library=$(mktemp -d -t reelbox-demo-XXXXXX)
export XDG_CACHE_HOME="$library/.cache"
echo "Demo library: $library"

echo
echo "== reelbox-cli synth-take (8 s, 2 channels, 1280x720, one overdub)"
take=$("$cli" synth-take --root "$library" --seconds 8 --channels 2 --size 1280x720 --overdubs 1)
echo "$take"

echo
echo "== reelbox-cli takes"
"$cli" takes --root "$library"

echo
echo "== reelbox-cli info --derived"
"$cli" info "$take" --derived

echo
echo "== reelbox-cli stems"
stems=$("$cli" stems "$take/take.mov" --cache "$XDG_CACHE_HOME/stems")
echo "$stems"

echo
echo "== reelbox-cli waveform (each stem)"
while read -r stem; do
    echo "$(basename "$stem"): $("$cli" waveform "$stem" | tr '\n' ' ')"
done <<< "$stems"

echo
echo "== reelbox-cli thumbnail"
"$cli" thumbnail "$take"

echo
echo "== reelbox-cli mix"
"$cli" mix "$take" "$library/mix.caf"
echo "Mix written to $library/mix.caf"

echo
echo "== reelbox-cli frame (the picture at 2 s, side by side)"
"$cli" frame "$take" --at 2 "$library/frame.png"

echo
echo "== reelbox-cli export (MP4, H.264, the overdub side by side)"
movie=$("$cli" export "$take" "$library/demo.mp4" --format h264)
echo "Exported to $movie"

echo
echo "== reelbox-cli play (3 s of the edit through the sound output; silent without a sound card)"
"$cli" play "$take" --seconds 3
