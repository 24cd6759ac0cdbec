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

# Under /tmp, which a root shares: sway there finds the same paths.
work=$(mktemp -d /tmp/keyflare-wayland.XXXXXX)
chmod 755 "$work"
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

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
pid=$!
for _ in $(seq 200); do
    [ -S "$runtime/wayland-1" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
if [ ! -S "$runtime/wayland-1" ]; then
    cat "$work/compositor.log" >&2
    echo "$compositor did not start" >&2
    exit 1
fi

unset DISPLAY
# Under the sanitizers, full stacks for every allocation: libwayland, built without frame
# pointers, would otherwise cut them short, and its users' leaks could not be told from Keyflare's.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
fi
export XDG_RUNTIME_DIR="$runtime"
export WAYLAND_DISPLAY=wayland-1
export XDG_SESSION_TYPE=wayland
if [ "$compositor" = sway ]; then
    export XDG_CURRENT_DESKTOP=sway
    export SWAYSOCK
    SWAYSOCK=$(ls "$runtime"/sway-ipc.*.sock)
else
    export XDG_CURRENT_DESKTOP=weston
fi
"$@"
