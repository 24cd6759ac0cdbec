#!/usr/bin/env bash
# Measures Keyflare's typing against xdotool on a private X server, against wtype in a headless
# sway, and on its own in a headless KWin and GNOME Shell, and prints tables.
# KEYFLARE_BENCH_RUNS sets the runs per tool and layout (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}" "${KEYFLARE_TEST_PACKAGES[@]}" wtype
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target typebench waylandbench
scripts/with-xvfb.sh build/bench/typebench
scripts/with-wayland.sh sway build/bench/waylandbench
scripts/with-kwin.sh build/bench/waylandbench
scripts/with-gnome.sh build/app/gnome-extension build/bench/waylandbench
