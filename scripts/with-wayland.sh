#!/usr/bin/env bash
# Runs a command in a headless Wayland session of its own (no XWayland, no X server), then stops
# the compositor: sway (a wlroots compositor) or weston (one that offers programs no way to reach
# other windows). sway refuses to run as root: as root it runs as the unprivileged user "nobody",
# whose socket root's programs may still use.
# With KEYFLARE_ROOT set, sway is the one in that root (see make-root.sh); the command and its
# programs stay on this machine.
# Usage: scripts/with-wayland.sh sway|weston COMMAND [ARGS...]
set -euo pipefail
compositor=$1
shift
in_root=("$(dirname "$0")/in-root.sh" "${KEYFLARE_ROOT:-}")
source "$(dirname "$0")/session-lib.sh"

session_work wayland
runtime="$work/runtime"
mkdir -m 700 "$runtime"
cat >"$work/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1280x800
xwayland disable
CONF
chmod 644 "$work/sway.conf"
as_user=()
if [ "$compositor" = sway ] && [ "$(id -u)" = 0 ]; then
    chown 65534:65534 "$runtime"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
if [ "$compositor" = sway ]; then
    env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
        WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        "${in_root[@]}" "${as_user[@]}" sway -c "$work/sway.conf" >"$work/compositor.log" 2>&1 &
else
    env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" \
        weston --backend=headless-backend.so --socket=wayland-1 >"$work/compositor.log" 2>&1 &
fi
pids+=($!)
session_await_wayland "$!" "$compositor" "$work/compositor.log"

unset DISPLAY
export XDG_RUNTIME_DIR="$runtime"
session_wayland "$compositor"
if [ "$compositor" = sway ]; then
    export SWAYSOCK
    SWAYSOCK=$(ls "$runtime"/sway-ipc.*.sock)
fi
session_test_bus
"$@"
