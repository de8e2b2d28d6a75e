#!/usr/bin/env bash
# Start-up cost of the real player: time from exec to its main window being mapped, and its
# resident memory once started. Prints rows "| what | measured | target |".
# Env: QUIVA_BUILD_DIR (default: build). Needs Xvfb, xev, xdotool and stdbuf.
#
# Method: the binary is copied into a temporary program directory (its quiva.ini lands there)
# and runs with a temporary HOME and XDG directories on a private Xvfb. One xev listens for
# SubstructureNotify on the root window for the whole bench; with no window manager the main
# window is a direct child of the root, so its MapNotify arrives the moment the X server maps
# it. The clock starts just before the fork and stops when bash reads a MapNotify line after
# which a visible window titled "Quiva Media Player" exists. This is event driven, so no
# polling loop competes with the player for the CPU. RSS is VmRSS half a second after mapping.
set -u

build=$(cd "${QUIVA_BUILD_DIR:-build}" 2>/dev/null && pwd) || build=${QUIVA_BUILD_DIR:-build}
runs=10
map_timeout_s=5
title="Quiva Media Player"
time_label="start-up: exec to main window mapped (median of $runs)"
cpu_label="start-up: CPU time until the window is mapped (median)"
rss_label="start-up: resident memory after start (median)"
time_target="< 150 ms"
rss_target="< 40 MB"
clock_ticks=$(getconf CLK_TCK)

source "$(dirname "$0")/lib/harness.bash"

work=""
xvfb_pid=""
xev_pid=""
player_pid=""

cleanup() {
    stop_pid "$player_pid"
    stop_pid "$xev_pid"
    stop_pid "$xvfb_pid"
    [ -n "${events_fd:-}" ] && exec {events_fd}<&- 2>/dev/null
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

# Every row with the reason in place of a figure; the bench as a whole still succeeds.
not_available() {
    row "$time_label" "n/a ($1)" "$time_target"
    row "$cpu_label" "n/a ($1)" "-"
    row "$rss_label" "n/a ($1)" "$rss_target"
    exit 0
}

# Microseconds since the epoch, without forking.
now_us() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; }

# Median of integers given one a line on stdin.
median() {
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) exit 1
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

setup() {
    [ -x "$build/bin/quiva" ] || not_available "no $build/bin/quiva"
    for tool in Xvfb xev xdotool stdbuf; do
        command -v "$tool" >/dev/null || not_available "$tool not installed"
    done
    work=$(mktemp -d /tmp/quiva-bench-startup.XXXXXX)
    mkdir -p "$work/program" "$work/home" "$work/config" "$work/data" "$work/cache" \
        "$work/runtime"
    chmod 700 "$work/runtime"
    cp "$build/bin/quiva" "$work/program/quiva"

    export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
    export XDG_CACHE_HOME="$work/cache" QT_QPA_PLATFORM=xcb
    export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work/runtime}
    # The volume control talks to PulseAudio; it may use a running server but must never
    # leave a freshly spawned daemon behind.
    printf 'autospawn = no\n' >"$work/client.conf"
    export PULSE_CLIENTCONFIG="$work/client.conf"
    unset WAYLAND_DISPLAY

    # Register the volume control in the temporary per-user store, as `make run` does, so
    # the measured start includes loading it.
    if [ -x "$build/bin/quiva-regsvr" ] && [ -f "$build/lib/libDalvex.so" ]; then
        "$build/bin/quiva-regsvr" "$build/lib/libDalvex.so" >/dev/null 2>&1
    fi

    start_x_server 1024x768x24
    start_map_listener
}

main_window_visible() {
    [ -n "$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null)" ]
}

# Starts the player once; prints "<microseconds to map> <RSS kB> <CPU ms to map> <1 if the
# volume control library is loaded, else 0>", or fails with a reason.
# Runs in a command substitution, whose subshell has no EXIT trap: it stops the player itself
# on every path.
measure_once() {
    local start_us deadline_us line now
    drain_events 0.2
    start_us=$(now_us)
    "$work/program/quiva" >/dev/null 2>&1 &
    player_pid=$!
    deadline_us=$((start_us + map_timeout_s * 1000000))
    while :; do
        now=$(now_us)
        if ((now > deadline_us)); then
            stop_pid "$player_pid"
            echo "window \"$title\" not mapped within ${map_timeout_s} s"
            return 1
        fi
        if ! kill -0 "$player_pid" 2>/dev/null; then
            wait "$player_pid"
            echo "player exited with status $? before mapping its window"
            player_pid=""
            return 1
        fi
        # A MapNotify stops the clock; without one, look again every 50 ms in case the title
        # was set after mapping (the clock then stops at that look).
        if read -r -t 0.05 -u "$events_fd" line; then
            [[ $line == MapNotify* ]] || continue
        elif (($? <= 128)); then
            sleep 0.05 # the listener is gone: end of file, not a time-out
        fi
        now=$(now_us)
        main_window_visible && break
    done
    # CPU time (user + system) up to the map: unlike wall time, it hardly depends on how busy
    # the machine is. Fields 14 and 15 of /proc/PID/stat, in clock ticks.
    local cpu_ms
    cpu_ms=$(awk -v hz="$clock_ticks" '{ print int(($14 + $15) * 1000 / hz) }' \
        "/proc/$player_pid/stat" 2>/dev/null)
    sleep 0.5
    local rss hosted=0
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$player_pid/status" 2>/dev/null)
    grep -q 'libDalvex' "/proc/$player_pid/maps" 2>/dev/null && hosted=1
    stop_pid "$player_pid"
    player_pid=""
    echo "$((now - start_us)) ${rss:-0} ${cpu_ms:-0} $hosted"
}

setup
: >"$work/results"
for _ in $(seq "$runs"); do
    if ! result=$(measure_once); then
        not_available "$result"
    fi
    echo "$result" >>"$work/results"
done

time_us=$(awk '{ print $1 }' "$work/results" | median)
min_us=$(awk '{ print $1 }' "$work/results" | sort -n | head -n1)
max_us=$(awk '{ print $1 }' "$work/results" | sort -n | tail -n1)
rss_kb=$(awk '{ print $2 }' "$work/results" | median)
cpu_ms=$(awk '{ print $3 }' "$work/results" | median)
# Whether the figures include the hosted volume control: they should, once the main window
# creates it.
hosted="volume control loaded"
awk '$4 == 0 { missing = 1 } END { exit missing }' "$work/results" ||
    hosted="volume control NOT loaded"
time_label="$time_label, $hosted"
rss_label="$rss_label, $hosted"
# Start-up time depends heavily on how busy the machine is, so the load goes with the figure.
load=$(cut -d' ' -f1 /proc/loadavg)
time_text=$(awk -v m="$time_us" -v a="$min_us" -v b="$max_us" -v l="$load" 'BEGIN {
    printf "%.0f ms (min %.0f, max %.0f; load average %s)", m / 1000, a / 1000, b / 1000, l }')
row "$time_label" "$time_text" "$time_target"
row "$cpu_label" "$cpu_ms ms" "-"
row "$rss_label" "$(awk -v k="$rss_kb" 'BEGIN { printf "%.1f MB", k / 1024 }')" "$rss_target"
