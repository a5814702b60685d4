#!/usr/bin/env bash
# Starts reelbox on a private X display with a take library of its own: once shown it saves a
# picture of itself and quits; a second start is ended by SIGTERM, which closes the window the
# way its close button does. Both must end with status 0.
set -eu
app=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
export APP=$app WORK=$work
unset QT_QPA_PLATFORM
status=0
xvfb-run -a -s "-screen 0 1600x1000x24" "$app" --root "$work/Takes" --screenshot "$work/window.png" || status=$?
if [ "$status" -ne 0 ]; then
    echo "reelbox exited with status $status"
    exit 1
fi
size=$(stat -c %s "$work/window.png" 2>/dev/null || echo 0)
if [ "$size" -lt 10000 ]; then
    echo "no picture of the window ($size bytes)"
    exit 1
fi
status=0
xvfb-run -a bash -c '"$APP" --root "$WORK/Takes" & pid=$!; sleep 3; kill -TERM $pid; wait $pid' || status=$?
if [ "$status" -ne 0 ]; then
    echo "reelbox ended by SIGTERM with status $status"
    exit 1
fi
echo "window shown and closed; picture $size bytes"
