#!/usr/bin/env bash
# Starts the Reelbox window. Without a display it runs the window under xvfb-run for a few
# seconds on the recorder screen and saves a screenshot instead.
set -eu
bin=$1
build=$(dirname "$bin")
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$bin/reelbox" "${@:2}"
fi
shot="$(cd "$build" && pwd)/reelbox-window.png"
echo "No display here: running the window under xvfb-run and saving a screenshot."
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1600x1000x24" "$bin/reelbox" --screenshot "$shot" "${@:2}"
echo "$shot"
