# Installs the Debian packages Keyflare needs that are missing. Sourced by run.sh and test.sh.

KEYFLARE_BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config qt6-base-dev
    libxcb1-dev libxcb-xtest0-dev libxcb-ewmh-dev libxcb-xkb-dev libxcb-xinput-dev
    libxkbcommon-dev libxkbcommon-x11-dev xkb-data libx11-dev libwayland-dev qt6-wayland
    plasma-wayland-protocols
)
# The real-desktop tests: a private X server with a window manager, a headless sway, KWin and
# GNOME Shell, and real programs to type into.
KEYFLARE_TEST_PACKAGES=(xvfb openbox xterm x11-utils x11-xkb-utils x11-xserver-utils xdotool
    wmctrl dpkg-dev desktop-file-utils python3-gi gir1.2-gtk-3.0
    sway foot kwin-wayland weston dbus-daemon libkf5service-bin wl-clipboard
    gnome-shell dconf-cli gjs libglib2.0-bin debootstrap at-spi2-core)

# The sanitizer build and the fuzzers (clang with its runtime libraries).
KEYFLARE_CHECK_PACKAGES=(clang libclang-rt-14-dev)

keyflare_install_missing() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}
