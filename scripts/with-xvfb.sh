#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) with a window manager (openbox), then stops both.
# Usage: scripts/with-xvfb.sh COMMAND [ARGS...]
set -euo pipefail
source "$(dirname "$0")/session-lib.sh"

session_work xvfb

# Xvfb picks a free display itself and writes its number, so X servers started at the same time
# by others can never take the same number.
mkfifo "$work/displayfd"
# -noreset: a server whose last client leaves starts over, and a client connecting meanwhile is
# turned away.
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$work/displayfd" \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
number=""
read -r -t 20 number <"$work/displayfd" || true
if [ -z "$number" ]; then
    cat "$work/xvfb.log" >&2
    echo "Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$number"

# The number may come before the server takes clients: a window manager started then fails to
# open the display, and without it no window is listed. It is started again until it manages the
# screen, for up to a minute by the clock however busy the machine is.
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
deadline=$((SECONDS + 60))
wm=""
until wm_up; do
    if [ -z "$wm" ] || ! kill -0 "$wm" 2>/dev/null; then
        openbox --sm-disable >>"$work/openbox.log" 2>&1 &
        wm=$!
        pids+=("$wm")
    fi
    if [ $SECONDS -ge $deadline ]; then
        cat "$work/xvfb.log" "$work/openbox.log" >&2
        echo "openbox did not start on $DISPLAY" >&2
        exit 1
    fi
    sleep 0.05
done

unset WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export XDG_SESSION_TYPE=x11
session_test_bus
"$@"
