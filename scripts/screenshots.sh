#!/usr/bin/env bash
# Takes the README's pictures of the main panel and the editor on a private X server.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
keyflare_install_missing "${KEYFLARE_BUILD_PACKAGES[@]}" "${KEYFLARE_TEST_PACKAGES[@]}" imagemagick
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target keyflare
out="$PWD/docs/images"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$out"
cp build/app/keyflare "$work/bin/"
printf 'Mail - Inbox\r\nTerminal\r\n' >"$work/bin/Keyflare.ini"
{
    printf '[Keyflare 1.07]\r\n'
    for k in $(seq 1 48); do
        case $k in
        1) printf 'Greeting\r\nHello, and thank you for your message.\r\n' ;;
        2) printf 'Sign-off\r\nKind regards,\tAlex\r\n' ;;
        3) printf 'Address\r\n42 Example Street, Springfield\r\n' ;;
        4) printf 'Ticket\r\nRef: [TICKET-%s]\r\n' "$k" ;;
        *) printf 'Number %s\r\n%s\r\n' "$k" "$k" ;;
        esac
    done
} >"$work/bin/Replies.mcs"
XDG_CONFIG_HOME="$work/config" scripts/with-xvfb.sh bash -c '
    "$1/bin/keyflare" & pid=$!
    for _ in $(seq 100); do w=$(xdotool search --name "^Keyflare v2.3$" 2>/dev/null | head -1); [ -n "$w" ] && break; sleep 0.1; done
    sleep 0.5
    import -window "$w" -frame "$2/main-panel.png"
    xdotool mousemove --window "$w" 60 12 click 3
    for _ in $(seq 100); do e=$(xdotool search --name "^Keyflare Button Manager$" 2>/dev/null | head -1); [ -n "$e" ] && break; sleep 0.1; done
    sleep 0.5
    import -window "$e" -frame "$2/editor.png"
    kill $pid
' _ "$work" "$out"
echo "Wrote $out/main-panel.png and $out/editor.png"
