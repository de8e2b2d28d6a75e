# Shared by the bench scripts that run programs on a private X server (sourced, not run: the
# name does not end in .sh, so bench/run.sh does not take it for a bench). The caller sets
# $work (its temporary folder) and defines not_available REASON, which prints its rows with the
# reason in place of a figure and exits 0.

row() { printf '| %s | %s | %s |\n' "$1" "$2" "$3"; }

# Stops one process we started, by its PID: politely first, then for sure.
stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.02
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# A private X server with one screen of $1 (WIDTHxHEIGHTxDEPTH); sets DISPLAY and xvfb_pid.
# -displayfd: the server picks a free display itself and writes its number once ready.
start_x_server() {
    Xvfb -displayfd 3 -nolisten tcp -screen 0 "$1" 3>"$work/display" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 250); do
        [ -s "$work/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || not_available "Xvfb did not start"
        sleep 0.02
    done
    [ -s "$work/display" ] || not_available "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
}

# One xev on the root window for the whole bench; its lines are read from events_fd. With no
# window manager a top-level window is a direct child of the root, so its MapNotify arrives the
# moment the X server maps it.
start_map_listener() {
    mkfifo "$work/events"
    stdbuf -oL xev -root -event substructure >"$work/events" 2>/dev/null &
    xev_pid=$!
    exec {events_fd}<"$work/events"
    sleep 0.5 # xev selects its events right after connecting
    kill -0 "$xev_pid" 2>/dev/null || not_available "xev did not start"
}

# Drops events left over from the previous run: those that arrive within $1 seconds.
drain_events() {
    local line
    while read -r -t "$1" -u "$events_fd" line; do :; done
}
