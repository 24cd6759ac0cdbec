#!/usr/bin/env bash
# Runs a command inside a root made by make-root.sh, with this machine's /proc, /sys, /dev and
# /tmp, in a mount namespace of its own so that nothing stays mounted once it ends; with ROOT
# empty, runs it here. The command keeps this process's id, so that whoever started it can stop
# it. Sockets and files under /tmp have the same paths on both sides.
# Usage: scripts/in-root.sh ROOT|"" COMMAND [ARGS...]
set -euo pipefail
root=$1
shift
[ -z "$root" ] && exec "$@"
[ -f "$root/.keyflare-root" ] || [ -n "${KEYFLARE_ROOT_CHECKED:-}" ] || {
    echo "$root is not a root made by make-root.sh" >&2
    exit 1
}
exec /usr/bin/unshare --mount --propagation private -- sh -c '
    root=$1; shift
    for m in proc sys dev dev/pts dev/shm tmp; do /usr/bin/mount --bind "/$m" "$root/$m" || exit 1; done
    exec /usr/sbin/chroot "$root" "$@"' sh "$root" "$@"
