#!/usr/bin/env bash
# Installs what is missing, builds Keyflare and runs every test: the plain build (the real-X11
# tests on a private X server with a window manager), the same tests built with AddressSanitizer
# and UndefinedBehaviorSanitizer (leaks included), and the fuzzers for a bounded time each. The
# plain build's Wayland tests also run in the sway, KWin and GNOME Shell of Debian 13 and
# unstable, from roots made once with debootstrap and reused (scripts/make-root.sh).
# KEYFLARE_QUICK=1 runs the plain build's tests alone, on this machine's desktops. Arguments go
# to the plain build's ctest.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}" "${KEYFLARE_TEST_PACKAGES[@]}" \
    "${KEYFLARE_CHECK_PACKAGES[@]}"

# The roots of the newer releases whose desktops the tests run in too, made (or checked) while
# the program builds.
roots=""
roots_pids=()
if [ "${KEYFLARE_QUICK:-0}" != 1 ]; then
    roots=${KEYFLARE_ROOTS:-/var/cache/keyflare-roots}
    export KEYFLARE_ROOTS=$roots
    for release in trixie sid; do
        scripts/make-root.sh "$release" >/dev/null &
        roots_pids+=($!)
    done
fi

echo "== Build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYFLARE_WERROR=ON \
    -DKEYFLARE_ROOTS="$roots"
cmake --build build
(cd build && cpack -G DEB) # the package test installs it into a folder of its own
for pid in "${roots_pids[@]}"; do
    wait "$pid" || {
        echo "A root of a newer release could not be made" >&2
        exit 1
    }
done
scripts/with-xvfb.sh ctest --test-dir build --output-on-failure "$@"
[ "${KEYFLARE_QUICK:-0}" = 1 ] && exit 0

echo "== Sanitizers: address, undefined behaviour, leaks"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYFLARE_WERROR=ON \
    -DKEYFLARE_SANITIZE=ON
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:handle_abort=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    scripts/with-xvfb.sh ctest --test-dir build-asan --output-on-failure

echo "== Fuzzers"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYFLARE_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz
ctest --test-dir build-fuzz --output-on-failure
