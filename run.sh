#!/usr/bin/env bash
# Installs what is missing, builds Keyflare (the program and its clipboard keeper, without the
# tests) and starts it. The build is configured as test.sh configures it, so that test.sh then
# builds only the rest.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}"

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYFLARE_WERROR=ON >/dev/null
cmake --build "$build" --target keyflare-program
exec "$build/app/keyflare" "$@"
