#!/usr/bin/env bash
# Installs what is missing, builds Keyflare and runs every test, the real-X11 ones on a private
# X server with a window manager.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}" "${KEYFLARE_TEST_PACKAGES[@]}"

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYFLARE_WERROR=ON
cmake --build "$build"
scripts/with-xvfb.sh ctest --test-dir "$build" --output-on-failure "$@"
