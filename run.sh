#!/usr/bin/env bash
# Installs what is missing, builds Keyflare and starts it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}"

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
exec "$build/app/keyflare" "$@"
