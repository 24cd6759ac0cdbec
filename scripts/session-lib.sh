# shellcheck shell=bash
# What the scripts that run a command in a desktop of its own share: a work folder that goes with
# everything started in it, the session's own folders and buses, and the command's environment.
# Sourced by with-xvfb.sh, with-wayland.sh, with-kwin.sh and with-gnome.sh.

# session_work NAME: makes $work, a folder under /tmp (which a root shares: a compositor there
# finds the same paths), and has every process whose id is added to $pids stopped and the folder
# removed when the script ends. $session_stop names the signal (the default TERM), and the files
# in $session_leftovers, which a process killed leaves behind, go too.
session_work() {
    work=$(mktemp -d "/tmp/keyflare-$1.XXXXXX")
    chmod 755 "$work"
    pids=()
    session_stop=TERM
    session_leftovers=()
    trap session_cleanup EXIT
}

session_cleanup() {
    for pid in "${pids[@]}"; do kill "-$session_stop" "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "${session_leftovers[@]}"
    rm -rf "$work"
}

# session_folders: the session's $runtime (private), $data (its home and data) and $config, and
# $session, the environment its own programs start with (env -i), to which callers add.
session_folders() {
    runtime="$work/runtime"
    data="$work/data"
    config="$work/config"
    mkdir -m 700 "$runtime"
    mkdir -p "$data" "$config"
    session=(PATH=/usr/bin:/bin HOME="$data" XDG_RUNTIME_DIR="$runtime" XDG_DATA_HOME="$data"
        XDG_CONFIG_HOME="$config" DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
}

# session_buses NAME...: a D-Bus daemon listening on $runtime/NAME for each, in the session's
# environment; returns once each listens, or after five seconds.
session_buses() {
    local bus ready
    for bus in "$@"; do
        env -i "${session[@]}" dbus-daemon --session --nofork \
            --address="unix:path=$runtime/$bus" >"$work/$bus.log" 2>&1 &
        pids+=($!)
    done
    for _ in $(seq 100); do
        ready=1
        for bus in "$@"; do [ -S "$runtime/$bus" ] || ready=0; done
        [ "$ready" = 1 ] && break
        sleep 0.05
    done
}

# session_test_bus: a session bus of the command's own, where the desktop brings none (the
# screen reader's bus, which tests read the program through, is started on it).
session_test_bus() {
    dbus-daemon --session --nofork --address="unix:path=$work/test-bus" >"$work/test-bus.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -S "$work/test-bus" ] && break
        sleep 0.05
    done
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/test-bus"
}

# session_await_wayland PID NAME LOG...: waits until the compositor of PID listens on
# $runtime/wayland-1; if it ends or does not within ten seconds, shows its logs and ends the
# script.
session_await_wayland() {
    local pid=$1 name=$2
    shift 2
    for _ in $(seq 200); do
        [ -S "$runtime/wayland-1" ] && return
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -S "$runtime/wayland-1" ] && return
    cat "$@" >&2
    echo "$name did not start" >&2
    exit 1
}

# session_enter: the command runs as the session's user: its home, folders and session bus. Qt
# draws no window frames of its own: a window's place is then its inside, where the tests' pointer
# clicks.
session_enter() {
    export HOME="$data" XDG_RUNTIME_DIR="$runtime" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$config"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
    export QT_WAYLAND_DISABLE_WINDOWDECORATION=1
}

# session_x_display PID MESSAGE LOG...: the command's DISPLAY is the X display that the
# compositor PID marks with a lock file holding its process id (the lowest, where it marks more),
# waited for up to ten seconds; its lock and socket go at the end, as a killed compositor leaves
# them. Where none comes, shows the logs and MESSAGE, and ends the script.
session_x_display() {
    local pid=$1 message=$2 xdisplay="" lock
    shift 2
    for _ in $(seq 200); do
        for lock in $(ls /tmp/.X*-lock 2>/dev/null | sort -rV); do
            [ "$(tr -d ' \n' <"$lock" 2>/dev/null)" = "$pid" ] && xdisplay=$(basename "$lock" -lock)
        done
        [ -n "$xdisplay" ] && break
        sleep 0.05
    done
    if [ -z "$xdisplay" ]; then
        cat "$@" >&2
        echo "$message" >&2
        exit 1
    fi
    export DISPLAY=":${xdisplay#.X}"
    session_leftovers+=("/tmp/$xdisplay-lock" "/tmp/.X11-unix/X${xdisplay#.X}")
}

# session_wayland DESKTOP: the command's display is the compositor's wayland-1, in a session of
# DESKTOP.
session_wayland() {
    # Under the sanitizers, full stacks for every allocation: libwayland, built without frame
    # pointers, would otherwise cut them short, and its users' leaks could not be told from
    # Keyflare's.
    if [ -n "${ASAN_OPTIONS:-}" ]; then
        export ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
    fi
    export WAYLAND_DISPLAY=wayland-1 XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=$1
}
