#!/usr/bin/env bash
# Runs a command in a headless KDE Plasma compositor (KWin) of its own, with a session bus of its
# own, then stops both. KWin shows its restricted interfaces only to programs that a desktop file
# names by absolute path, and it must be able to read their executable: so everything runs as the
# invoking user, and a desktop file lets the command's own executable use fake input and window
# management (the tests' pointer and keyboard).
# With KEYFLARE_ROOT set, KWin is the one in that root (see make-root.sh); the bus, the command
# and its programs stay on this machine.
# Usage: scripts/with-kwin.sh COMMAND [ARGS...]
set -euo pipefail
root=${KEYFLARE_ROOT:-}
in_root=("$(dirname "$0")/in-root.sh" "$root")

# Under /tmp, which a root shares: KWin there finds the same paths.
work=$(mktemp -d /tmp/keyflare-kwin.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

runtime="$work/runtime"
data="$work/data"
config="$work/config"
mkdir -m 700 "$runtime"
mkdir -p "$data/applications" "$config" "$work/bin"
# No window frames, neither KWin's nor Qt's own: a window's place is then its inside, where the
# tests' pointer clicks.
printf '[org.kde.kdecoration2]\nNoPlugin=true\n' >"$config/kwinrc"
# The packaged kwin_wayland carries a file capability that cannot be exercised here; a plain copy
# keeps the name KWin goes by.
cp "$root/usr/bin/kwin_wayland" "$work/bin/"
session=(PATH=/usr/bin:/bin HOME="$data" XDG_RUNTIME_DIR="$runtime" XDG_DATA_HOME="$data"
    XDG_CONFIG_HOME="$config" DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
env -i "${session[@]}" dbus-daemon --session --nofork \
    --address="unix:path=$runtime/bus" >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -S "$runtime/bus" ] && break
    sleep 0.05
done
env -i "${session[@]}" KWIN_COMPOSE=Q "${in_root[@]}" "$work/bin/kwin_wayland" --virtual \
    --no-lockscreen --no-global-shortcuts --socket wayland-1 --width 1280 --height 800 \
    >"$work/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    [ -S "$runtime/wayland-1" ] && break
    sleep 0.05
done
if [ ! -S "$runtime/wayland-1" ]; then
    cat "$work/bus.log" "$work/kwin.log" >&2
    echo "KWin did not start" >&2
    exit 1
fi

exe=$(readlink -f "$(command -v "$1")")
cat >"$data/applications/keyflare-test-driver.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Keyflare test driver
Exec=$exe
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management,org_kde_kwin_keystate
DESKTOP
env -i "${session[@]}" kbuildsycoca5 >/dev/null 2>&1 || true

unset DISPLAY
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
fi
export HOME="$data" XDG_RUNTIME_DIR="$runtime" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$config"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
export WAYLAND_DISPLAY=wayland-1 XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE
export QT_WAYLAND_DISABLE_WINDOWDECORATION=1
"$@"
