#!/usr/bin/env bash
# The steady cost of a shown player and of the display server that shows it: quiva with the
# playlist shown (both strips scrolling, the volume control polling) and audacious with its
# skinned interface, side by side on one private Xvfb and PulseAudio, started as bench/peers.sh
# starts them (its helpers are reused). Each figure is CPU time over 20 s once the program has
# settled: the program's threads (/proc/PID/task/*/schedstat) plus the display server's.
#   idle       quiva with its playlist listed, nothing playing; audacious with no file.
#   playing    the 60 s file, from 10 s on; quiva starts it by a double click on its entry.
#   minimised  quiva idle, iconified by openbox, which runs for this row only (the other rows
#              need the window manager's absence: peers.sh times start-up by MapNotify).
#   Qt floor   bench/floor/qt-floor.cpp: a bare Qt widget program with the player's two strips
#              and three 100 ms timers and nothing else, idle and minimised: what the toolkit
#              itself costs on this machine for the same steady work, the floor under quiva's
#              figures; and idle on weston.
#   weston     quiva on a headless weston (pixman renderer) instead of Xvfb, idle and playing;
#              the compositor's CPU counts as the display server's. Headless weston has no
#              input devices, so the playing row starts the song over MPRIS: for that row only
#              quiva joins a private session bus (dbus-daemon, nothing activatable) and
#              `playerctl open` plays its entry; the stretch starts play_warmup_s after it
#              plays (playerctl says Playing and the sound server has its stream). Every other
#              row keeps D-Bus cut off, as peers.sh does.
# Prints rows "| what | measured | target |". Env: QUIVA_BUILD_DIR (default: build).
set -u
source "$(dirname "$0")/peers.sh"

display_stretch_s=20
wm_pid="" weston_pid="" weston_display="" bus_pid="" bus_address=""
trap 'stop_pid "$wm_pid"; stop_pid "$bus_pid"; stop_pid "$weston_pid"; cleanup' EXIT

not_available() {
    row "player and display server CPU over ${display_stretch_s} s" "n/a ($1)" "-"
    exit 0
}

# (nap, a read that times out, always fails: never chain on it.)
# Program plus display-server nanoseconds over one stretch into results/<name>.<mode>_ms and
# <mode>_display_ms (ms per stretch).
measure_stretch() {
    local name=$1 mode=$2 display_pid=$3 program_start display_start
    threads_ns "$program_pid"
    program_start=$REPLY
    threads_ns "$display_pid"
    display_start=$REPLY
    nap "$display_stretch_s"
    kill -0 "$program_pid" 2>/dev/null || return 1
    threads_ns "$program_pid"
    record "$name" "${mode}_ms" "$(((REPLY - program_start) / 1000000))"
    threads_ns "$display_pid"
    record "$name" "${mode}_display_ms" "$(((REPLY - display_start) / 1000000))"
}

# One program in one state: idle (after settling) or playing (from play_warmup_s on, started as
# in peers.sh). `how` is the launch mode: quiva's "play" lists the music folder with the
# playlist shown, without playing until its entry is double-clicked.
measure_shown() {
    local name=$1 state=$2 how=$3
    launch "$name" "$how"
    if [ "$state" = playing ] && [ "$name" != quiva ]; then
        nap "$play_warmup_s"
        measure_stretch "$name" "$state" "$xvfb_pid"
    elif wait_for_map && wait_settled 10; then
        if [ "$state" = playing ]; then
            if double_click_entry; then
                nap "$play_warmup_s"
                measure_stretch "$name" "$state" "$xvfb_pid"
            fi
        else
            nap 2
            measure_stretch "$name" "$state" "$xvfb_pid"
        fi
    fi
    stop_program
}

# A program iconified by openbox: its name, launch mode and window title.
measure_minimised() {
    local name=$1 how=$2 title=$3 id=""
    command -v openbox >/dev/null || return 1
    HOME=$work/homes/$name openbox >/dev/null 2>&1 &
    wm_pid=$!
    nap 1
    launch "$name" "$how"
    if wait_settled 20; then
        id=$(xdotool search --onlyvisible --pid "$program_pid" --name "^$title\$" | head -n1)
    fi
    # xdotool's --sync does not wait for an unmap; the nap gives openbox time to iconify.
    if [ -n "$id" ] && xdotool windowminimize "$id"; then
        nap 2
        measure_stretch "$name" minimised "$xvfb_pid"
    fi
    stop_program
    stop_pid "$wm_pid"
    wm_pid=""
}

# A headless weston of its own; sets weston_pid and weston_display (its socket, by path: the
# program's own runtime folder is private).
start_weston() {
    command -v weston >/dev/null || return 1
    local socket=quiva-bench-weston-$$ runtime=$work/weston
    mkdir -p "$runtime" && chmod 700 "$runtime"
    XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --use-pixman \
        --width=1024 --height=768 --socket="$socket" >/dev/null 2>&1 &
    weston_pid=$!
    weston_display=$runtime/$socket
    for _ in $(seq 250); do
        [ -S "$weston_display" ] && return 0
        nap 0.04
    done
    return 1
}

# A private session bus for one row; sets bus_pid and bus_address once it listens. It has no
# service folders, so nothing is started on demand (Qt would start the accessibility bus): its
# only clients are quiva and playerctl.
start_session_bus() {
    command -v dbus-daemon >/dev/null && command -v playerctl >/dev/null || return 1
    cat >"$work/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address \
        >"$work/bus-address" 2>/dev/null &
    bus_pid=$!
    for _ in $(seq 250); do
        read -r bus_address 2>/dev/null <"$work/bus-address" && return 0
        kill -0 "$bus_pid" 2>/dev/null || return 1
        nap 0.02
    done
    return 1
}

stop_session_bus() {
    stop_pid "$bus_pid"
    bus_pid=""
}

mpris() { DBUS_SESSION_BUS_ADDRESS=$bus_address playerctl --player=quiva "$@" 2>/dev/null; }

# Plays quiva's playlist entry over MPRIS, as the desktop's media controls would, and waits
# (about 10 s at most) until it plays: playerctl says so and its stream is on the sound server.
play_over_mpris() {
    local deadline
    now_us
    deadline=$((REPLY + 10000000))
    until mpris status >/dev/null; do # the player is on the bus
        now_us
        ((REPLY < deadline)) || return 1
        nap 0.1
    done
    mpris open "file://$work/music/bench.mp3" || return 1
    until [ "$(mpris status)" = Playing ] && pactl list short sink-inputs 2>/dev/null | grep -q .; do
        now_us
        ((REPLY < deadline)) || return 1
        nap 0.1
    done
    return 0 # (the loop's status is the last nap's)
}

# A program idle on the compositor, as weston_idle: its name and launch mode.
measure_idle_on_weston() {
    QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=$weston_display launch "$1" "$2"
    if wait_settled 20; then
        nap 2
        measure_stretch "$1" weston_idle "$weston_pid"
    fi
    stop_program
}

# quiva with its playlist shown on the compositor: idle with D-Bus cut off, then playing; and
# the Qt floor idle.
measure_on_weston() {
    if start_weston; then
        measure_idle_on_weston quiva play
        have qt-floor && [ -d "$work/homes/qt-floor" ] && measure_idle_on_weston qt-floor idle
        if start_session_bus; then
            QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=$weston_display \
                DBUS_SESSION_BUS_ADDRESS=$bus_address launch quiva play
            if wait_settled 20 && play_over_mpris; then
                nap "$play_warmup_s"
                measure_stretch quiva weston_playing "$weston_pid"
            fi
            stop_program
        fi
        stop_session_bus
    fi
    stop_pid "$weston_pid"
    weston_pid=""
}

# A program's figure and its display server's in one state: cell "a + b ms", total a + b.
figures() {
    local program display
    program=$(median_of "$1" "$2_ms") && display=$(median_of "$1" "$2_display_ms") || return 1
    cell="$program + $display ms"
    total=$((program + display))
}

limit_row() {
    local what=$1 state=$2 limit=$3 cell total verdict="NOT met"
    if figures quiva "$state"; then
        ((total <= limit)) && verdict=met
        row "$what" "$cell = $total ms: $verdict" "≤ $limit ms"
    else
        row "$what" "n/a (not measured)" "≤ $limit ms"
    fi
}

ratio_row() {
    local what="quiva playing vs audacious playing: player + X server CPU over 20 s"
    local cell total quiva_cell quiva_total verdict="NOT met" r
    if figures quiva playing && quiva_cell=$cell && quiva_total=$total &&
        figures audacious playing; then
        r=$(ratio "$quiva_total" "$total")
        at_most "$r" 0.3 && verdict=met
        row "$what" "${r}× ($quiva_cell vs $cell): $verdict" "≤ 0.3×"
    else
        row "$what" "n/a (not measured)" "≤ 0.3×"
    fi
}

info_row() {
    local cell total
    figures "$2" "$3" || cell="n/a (not measured)"
    row "$1" "$cell" "-"
}

display_main() {
    setup
    mkdir -p "$work/results"
    local name load
    for name in quiva audacious; do
        have "$name" && prepare_home "$name" || continue
        if [ "$name" = quiva ]; then measure_shown quiva idle play; else measure_shown "$name" idle idle; fi
        measure_shown "$name" playing play
    done
    if have qt-floor && prepare_home qt-floor; then
        measure_shown qt-floor idle idle
        measure_minimised qt-floor idle 'Qt floor'
    fi
    measure_on_weston
    measure_minimised quiva play 'Quiva Media Player'

    read -r load _ </proc/loadavg
    limit_row "quiva idle, playlist shown: player + X server CPU over 20 s (load $load at the end)" \
        idle 40
    ratio_row
    info_row "audacious idle (no file), for reference: player + X server CPU over 20 s" audacious idle
    info_row "quiva idle on weston, playlist shown: player + compositor CPU over 20 s" quiva \
        weston_idle
    info_row "quiva playing on weston, playlist shown: player + compositor CPU over 20 s" quiva \
        weston_playing
    limit_row "quiva minimised (openbox): player + X server CPU over 20 s" minimised 10
    info_row "Qt floor (the same strips and timers, nothing else): program + X server CPU over 20 s" \
        qt-floor idle
    info_row "Qt floor minimised (openbox): program + X server CPU over 20 s" qt-floor minimised
    info_row "Qt floor on weston: program + compositor CPU over 20 s" qt-floor weston_idle
}

display_main
