#!/usr/bin/env bash
# Runs a command in a headless GNOME Shell of its own (Wayland, with Xwayland), with session and
# system buses of its own, then stops them. Keyflare's shell extension, built in EXTENSIONS (the
# folder that holds its legacy/ and module/ forms), is installed for the session's user and
# enabled before the shell starts, with the command's own executable approved to call it; so is
# the tests' hand (tests/support/gnome-hand), on the bus as org.keyflare.TestHand.
# EXTENSIONS "-" starts the shell without Keyflare's extension, as a user has it before installing.
# With KEYFLARE_ROOT set, the shell is the one in that root (see make-root.sh); the buses, the
# command and its programs stay on this machine.
# Usage: scripts/with-gnome.sh EXTENSIONS COMMAND [ARGS...]
set -euo pipefail
extensions=$1
shift
in_root=("$(dirname "$0")/in-root.sh" "${KEYFLARE_ROOT:-}")
source "$(dirname "$0")/session-lib.sh"

session_work gnome
# The shell may take seconds to end on SIGTERM.
session_stop=KILL
session_folders

# The form of the extension this shell loads, and the releases that load it, from the list that
# the build and Keyflare read as well.
major=$("${in_root[@]}" gnome-shell --version | sed -E 's/[^0-9]*([0-9]+).*/\1/')
read -r form versions < <(awk -v major="$major" '/^[a-z]/ {
    for (i = 2; i <= NF; ++i) if ($i == major) print }' \
    "$(dirname "$0")/../platform/gnome/extension/shell-versions.txt") || {
    echo "GNOME Shell $major is not in platform/gnome/extension/shell-versions.txt" >&2
    exit 1
}
# The extension answers a caller that sees the files as the shell does: in a root, the command
# runs in the shell's mount namespace (with this machine's files), from a link to its executable
# under /tmp, which the root shares.
if [ -n "${KEYFLARE_ROOT:-}" ]; then
    exe=$(readlink -f "$(command -v "$1")")
    mkdir "$work/bin"
    ln -s "$(dirname "$exe")"/* "$work/bin/"
    rm "$work/bin/$(basename "$exe")"
    ln "$exe" "$work/bin/" 2>/dev/null || cp "$exe" "$work/bin/"
    set -- "$work/bin/$(basename "$exe")" "${@:2}"
fi
uuid=""
names=(org.keyflare.TestHand)
if [ "$extensions" != - ]; then
    uuid=$(basename "$(find "$extensions/$form" -mindepth 1 -maxdepth 1 -type d | head -n 1)")
    target="$data/gnome-shell/extensions/$uuid"
    mkdir -p "$(dirname "$target")"
    cp -r "$extensions/$form/$uuid" "$target"
    readlink -f "$(command -v "$1")" >"$target/approved-callers"
    names+=(org.keyflare.Shell)
fi
# The tests' hand: a pointer and a key for the tests, which GNOME offers programs no other way.
hand_uuid=keyflare-test-hand@keyflare
hand="$(dirname "$0")/../tests/support/gnome-hand"
mkdir -p "$data/gnome-shell/extensions/$hand_uuid"
cat "$hand/$form-head.js" "$hand/hand.js" "$hand/$form-tail.js" \
    >"$data/gnome-shell/extensions/$hand_uuid/extension.js"
versions=$(printf '"%s", ' $versions)
printf '{"uuid": "%s", "name": "Test hand", "description": "Tests only", "shell-version": [%s]}\n' \
    "$hand_uuid" "${versions%, }" >"$data/gnome-shell/extensions/$hand_uuid/metadata.json"

enabled="'$hand_uuid'"
[ -n "$uuid" ] && enabled="'$uuid', $enabled"
mkdir -p "$work/dconf"
cat >"$work/dconf/00-keyflare-test" <<CONF
[org/gnome/shell]
enabled-extensions=[$enabled]
disable-user-extensions=false
welcome-dialog-last-shown-version='999'

# Windows that appear are animated in; a click meanwhile may not reach them. A headless shell
# starts with the pointer in the top left corner: from GNOME 51 the hand's first move counts as
# a push into the hot corner there, and the overview opens over every window.
[org/gnome/desktop/interface]
enable-animations=false
enable-hot-corners=false

[org/gnome/desktop/input-sources]
sources=[('xkb', 'us')]

# Run as root, the shell shows a banner ("Logged in as a privileged user") at the top of the
# screen, which takes the clicks meant for a window beneath it for as long as the pointer stays.
[org/gnome/desktop/notifications]
show-banners=false
CONF
mkdir -p "$config/dconf"
dconf compile "$config/dconf/user" "$work/dconf"

# A UTF-8 locale as in a desktop session: the shell reads the titles of X11 programs that give
# them in the locale's encoding (xterm) through it.
session+=(LANG=C.UTF-8 DBUS_SYSTEM_BUS_ADDRESS="unix:path=$runtime/sysbus")
session_buses bus sysbus
# Xwayland needs the folder of X11 sockets, which a fresh machine may not have yet.
[ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
env -i "${session[@]}" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME \
    "${in_root[@]}" gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display=wayland-1 \
    >"$work/shell.log" 2>&1 &
pids+=($!)
shell=$!
session_enter
# Ready once the extensions' own names are on the bus, a second or three after the shell's;
# a shell slow to start is waited for up to 90 s, and the names still missing then are named.
missing=()
owned() {
    missing=()
    for name in "${names[@]}"; do
        gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner "$name" 2>/dev/null | grep -q true ||
            missing+=("$name")
    done
    [ ${#missing[@]} = 0 ]
}
deadline=$((SECONDS + 90))
while ! owned && [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$shell" 2>/dev/null || break
    sleep 0.05
done
if ! owned; then
    cat "$work/shell.log" >&2
    echo "GNOME Shell did not start with Keyflare's extension (not on the bus: ${missing[*]})" >&2
    exit 1
fi
auth=$(ls "$runtime"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1 || true)
[ -n "$auth" ] && export XAUTHORITY="$auth"
# Xwayland takes the first free display, and the shell marks it with a lock file that holds the
# shell's process id. From mutter 51 it marks a second one for its own connection: the programs'
# display is the lower.
session_x_display "$shell" "GNOME Shell started no Xwayland" "$work/shell.log"
session_wayland GNOME
status=0
${KEYFLARE_ROOT:+nsenter --mount=/proc/$shell/ns/mnt --wd="$PWD" --} "$@" || status=$?
if [ "$status" -ne 0 ]; then
    # What the shell and the extensions in it said, for a failure to explain itself.
    echo "--- GNOME Shell's log ---" >&2
    grep -av -e 'cannot load font' -e '^$' -e 'keycode' -e 'xkbcomp' "$work/shell.log" |
        tail -n 40 >&2 || true
fi
exit "$status"
