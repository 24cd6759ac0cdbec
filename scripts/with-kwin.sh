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
# What a Plasma login has: an applications menu that XDG_MENU_PREFIX names. Without one, KF6's
# service cache takes up no desktop file, and KWin 6 grants its restricted interfaces to nobody.
mkdir -p "$work/xdg/menus"
cat >"$work/xdg/menus/plasma-applications.menu" <<'MENU'
<Menu><Name>Applications</Name><DefaultAppDirs/><DefaultDirectoryDirs/>
<Include><All/></Include></Menu>
MENU
session=(PATH=/usr/bin:/bin HOME="$data" XDG_RUNTIME_DIR="$runtime" XDG_DATA_HOME="$data"
    XDG_CONFIG_HOME="$config" XDG_CONFIG_DIRS="$work/xdg:/etc/xdg" XDG_MENU_PREFIX=plasma-
    DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
env -i "${session[@]}" dbus-daemon --session --nofork \
    --address="unix:path=$runtime/bus" >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -S "$runtime/bus" ] && break
    sleep 0.05
done
# The test's own desktop file and the service cache, before KWin starts: KWin refuses a program
# that its cache does not name yet. KWin 6 reads KF6's cache (kbuildsycoca6, from its root), 5
# KF5's.
exe=$(readlink -f "$(command -v "$1")")
shift
if [ -n "$root" ]; then
    # KWin finds a program's desktop file by resolving the file's path inside its root, which
    # shares only /tmp with this machine: the command runs from a copy here, with the links that
    # stand beside it (the clipboard keeper).
    mkdir "$work/command"
    cp "$exe" "$work/command/"
    find "$(dirname "$exe")" -maxdepth 1 -type l -exec cp -P {} "$work/command/" \;
    exe="$work/command/$(basename "$exe")"
fi
cat >"$data/applications/keyflare-test-driver.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Keyflare test driver
Exec=$exe
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management,org_kde_kwin_keystate
DESKTOP
if [ -x "$root/usr/bin/kbuildsycoca6" ]; then
    env -i "${session[@]}" "${in_root[@]}" kbuildsycoca6 --noincremental >"$work/sycoca.log" 2>&1
else
    env -i "${session[@]}" kbuildsycoca5 --noincremental >"$work/sycoca.log" 2>&1
fi || {
    cat "$work/sycoca.log" >&2
    echo "KDE's service cache could not be built" >&2
    exit 1
}
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


unset DISPLAY
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
fi
export HOME="$data" XDG_RUNTIME_DIR="$runtime" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$config"
export XDG_CONFIG_DIRS="$work/xdg:/etc/xdg" XDG_MENU_PREFIX=plasma-
export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
export WAYLAND_DISPLAY=wayland-1 XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE
export QT_WAYLAND_DISABLE_WINDOWDECORATION=1
"$exe" "$@"
