#!/usr/bin/env bash
# Makes, or checks and reuses, a root of a newer Debian release whose compositors (GNOME Shell,
# KWin, sway) the tests start: the program and the tests stay built on this machine and talk to
# them through sockets under the shared /tmp. Prints the root's path.
# A root is made in a folder of its own and moved into place only once whole and checked, with a
# stamp naming what it holds; a root without that stamp, with another stamp, or that fails the
# check is removed and made anew, never trusted.
# Usage: scripts/make-root.sh trixie|sid
set -euo pipefail
release=$1
case "$release" in trixie | sid) ;; *)
    echo "usage: $0 trixie|sid" >&2
    exit 2
    ;;
esac

roots=${KEYFLARE_ROOTS:-/var/cache/keyflare-roots}
root="$roots/$release"
# What the tests start inside: the three compositors with Xwayland and their session tools, and
# the libraries the package built here needs, so that installing it asks the archive for nothing.
packages=(gnome-shell kwin-wayland sway xwayland dbus-daemon dconf-cli gjs
    libglib2.0-bin libkf6service-bin wayland-utils xkb-data
    qt6-wayland libqt6widgets6 libxcb-xtest0 libxcb-ewmh2 libxcb-xkb1 libxcb-xinput0
    libxkbcommon-x11-0 libwayland-client0 desktop-file-utils)
stamp_text="keyflare-root 1 $release ${packages[*]}"

mkdir -p "$roots"
exec 9>"$roots/.$release.lock"
flock 9

in_root() { KEYFLARE_ROOT_CHECKED=1 "$(dirname "$0")/in-root.sh" "$@"; }

sound() {
    local dir=$1
    [ "$(cat "$dir/.keyflare-root" 2>/dev/null)" = "$stamp_text" ] || return 1
    in_root "$dir" sh -c 'gnome-shell --version && kwin_wayland --version && sway --version &&
        gjs -c "" && test -z "$(dpkg --audit)"' >/dev/null 2>&1
}

if [ -d "$root" ] && sound "$root"; then
    echo "$root"
    exit 0
fi
if [ -e "$root" ]; then
    echo "The $release root at $root is not whole or holds another package list: making it anew" >&2
    rm -rf --one-file-system "$root"
fi

new="$root.new"
rm -rf --one-file-system "$new"
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null ||
    true)
[ -n "$mirror" ] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list)
echo "Making the $release root (debootstrap, then ${#packages[@]} packages)" >&2
debootstrap --variant=minbase "$release" "$new" "$mirror" >"$roots/$release.log" 2>&1 || {
    tail -n 20 "$roots/$release.log" >&2
    exit 1
}
# The archive's unstable may be past its Release file's Valid-Until date.
echo 'Acquire::Check-Valid-Until "false";' >"$new/etc/apt/apt.conf.d/99keyflare"
mkdir -p "$new/tmp" && chmod 1777 "$new/tmp"
in_root "$new" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "$@" && apt-get clean' sh "${packages[@]}" >>"$roots/$release.log" 2>&1 || {
    tail -n 20 "$roots/$release.log" >&2
    exit 1
}
echo "$stamp_text" >"$new/.keyflare-root"
if ! sound "$new"; then
    echo "The new $release root fails its check; see $roots/$release.log" >&2
    exit 1
fi
mv "$new" "$root"
echo "$root"
