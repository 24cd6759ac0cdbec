#!/usr/bin/env bash
# Measures Keyflare's typing against xdotool on a private X server, against wtype in a headless
# sway, and on its own in a headless KWin and GNOME Shell, and prints tables; then, on each, how
# the line beside the title follows 50 windows (watchbench).
# Then the same on Wayland in the sway, KWin and GNOME Shell of each newer release, from roots
# that scripts/make-root.sh makes (KEYFLARE_QUICK=1 leaves them out).
# KEYFLARE_BENCH_RUNS sets the runs per tool and layout (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}" "${KEYFLARE_TEST_PACKAGES[@]}" wtype
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target typebench waylandbench watchbench
scripts/with-xvfb.sh build/bench/typebench
scripts/with-wayland.sh sway build/bench/waylandbench
scripts/with-kwin.sh build/bench/waylandbench
scripts/with-gnome.sh build/app/gnome-extension build/bench/waylandbench
echo "== The line beside the title: X11, sway, KWin, GNOME Shell"
scripts/with-xvfb.sh build/bench/watchbench
scripts/with-wayland.sh sway build/bench/watchbench
scripts/with-kwin.sh build/bench/watchbench
scripts/with-gnome.sh build/app/gnome-extension build/bench/watchbench
[ "${KEYFLARE_QUICK:-0}" = 1 ] && exit 0
for release in trixie sid; do
    root=$(scripts/make-root.sh "$release")
    echo "== $release"
    KEYFLARE_ROOT=$root scripts/with-wayland.sh sway build/bench/waylandbench
    KEYFLARE_ROOT=$root scripts/with-kwin.sh build/bench/waylandbench
    KEYFLARE_ROOT=$root scripts/with-gnome.sh build/app/gnome-extension build/bench/waylandbench
    for desktop in "with-wayland.sh sway" with-kwin.sh "with-gnome.sh build/app/gnome-extension"; do
        # shellcheck disable=SC2086 # the script and its first argument
        KEYFLARE_ROOT=$root scripts/$desktop build/bench/watchbench
    done
done
