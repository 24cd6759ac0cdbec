#!/usr/bin/env bash
# Runs a command in a headless KDE Plasma compositor (KWin) of its own, with a session bus of its
# own, then stops both. KWin shows its restricted interfaces only to programs that a desktop file
# names by absolute path, and it must be able to read their executable: so everything runs as the
# invoking user, and a desktop file lets the command's own executable use fake input and window
# management (the tests' pointer and keyboard).
# With KEYFLARE_ROOT set, KWin is the one in that root (see make-root.sh); the bus, the command
# and its programs stay on this machine.
# With KEYFLARE_KWIN_XWAYLAND=1, KWin runs Xwayland for X11 programs, as a Plasma session does,
# and the command gets its DISPLAY.
# Usage: scripts/with-kwin.sh COMMAND [ARGS...]
set -euo pipefail
root=${KEYFLARE_ROOT:-}
in_root=("$(dirname "$0")/in-root.sh" "$root")
source "$(dirname "$0")/session-lib.sh"

session_work kwin
session_folders
mkdir -p "$data/applications" "$work/bin"
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
session+=(XDG_CONFIG_DIRS="$work/xdg:/etc/xdg" XDG_MENU_PREFIX=plasma-)
session_buses bus
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
xwayland=()
[ "${KEYFLARE_KWIN_XWAYLAND:-0}" = 1 ] && xwayland=(--xwayland)
env -i "${session[@]}" KWIN_COMPOSE=Q "${in_root[@]}" "$work/bin/kwin_wayland" --virtual \
    "${xwayland[@]}" --no-lockscreen --no-global-shortcuts --socket wayland-1 --width 1280 \
    --height 800 >"$work/kwin.log" 2>&1 &
pids+=($!)
kwin=$!
session_await_wayland "$kwin" KWin "$work/bus.log" "$work/kwin.log"

unset DISPLAY
# KWin listens on the display itself (starting Xwayland once a program connects, from Plasma 6),
# and marks it with a lock file that holds its process id.
[ ${#xwayland[@]} -gt 0 ] && session_x_display "$kwin" "KWin set up no X display" "$work/kwin.log"
session_enter
export XDG_CONFIG_DIRS="$work/xdg:/etc/xdg" XDG_MENU_PREFIX=plasma-
session_wayland KDE
"$exe" "$@"
