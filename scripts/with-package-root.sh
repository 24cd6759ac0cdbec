#!/usr/bin/env bash
# Runs a command with the Debian package installed into the root KEYFLARE_ROOT, as a user of that
# release installs it, while the root itself stays as make-root.sh left it: the package goes into
# a scratch layer over the root (overlayfs, in a mount namespace of this command's own), which
# vanishes when the command ends. The command sees KEYFLARE_ROOT pointing at the layered root, so
# scripts/with-gnome.sh started by it runs that root's GNOME Shell with the package's extensions.
# Usage: KEYFLARE_ROOT=ROOT scripts/with-package-root.sh PACKAGE.deb COMMAND [ARGS...]
set -euo pipefail
[ -n "${KEYFLARE_ROOT:-}" ] || {
    echo "KEYFLARE_ROOT names no root" >&2
    exit 2
}
deb=$(readlink -f "$1")
shift
here=$(cd "$(dirname "$0")" && pwd)
exec unshare --mount --propagation private -- bash -euo pipefail -c '
    root=$1 deb=$2 here=$3; shift 3
    scratch=$(mktemp -d /tmp/keyflare-package.XXXXXX)
    trap "umount -l \"$scratch/merged\" \"$scratch\" 2>/dev/null; rm -rf \"$scratch\"" EXIT
    mount -t tmpfs tmpfs "$scratch"
    mkdir "$scratch/upper" "$scratch/work" "$scratch/merged"
    mount -t overlay overlay \
        -o "lowerdir=$root,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/merged"
    cp "$deb" "$scratch/merged/keyflare.deb"
    # The root holds every library the package needs: dpkg installs it without the archive.
    "$here/in-root.sh" "$scratch/merged" dpkg -i /keyflare.deb >"$scratch/dpkg.log" 2>&1 || {
        cat "$scratch/dpkg.log" >&2
        exit 1
    }
    KEYFLARE_ROOT=$scratch/merged "$@"
' sh "$KEYFLARE_ROOT" "$deb" "$here" "$@"
