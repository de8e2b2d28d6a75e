#!/usr/bin/env bash
# Quiva side by side with players installed from Debian (tools/deps-bench.txt): mpg123, mpv,
# qmmp and audacious, all measured in one run on one private Xvfb and one private PulseAudio
# server whose only sink is a null sink. Start-ups and directory runs take turns between the
# programs, so that a change in the machine's load falls on all of them alike. Prints a table of every program's
# figures (median and min-max), then rows "| what | measured | target |" that state whether each
# target is met. Env: QUIVA_BUILD_DIR (default: build); QUIVA_BENCH_NOTES, when set, names a
# file that receives the side-by-side table (bench/run.sh prints it after its own table).
#
# How each program runs. Every program gets a private HOME and XDG directories, made once by a
# warm-up start (so plug-in caches and first-run files exist, as on a user's machine) and copied
# afresh for every measured start; nothing outside the bench's temporary folder is read or
# written. The sound server is reached through PULSE_SERVER; D-Bus is cut off.
#   quiva      the built binary copied into a program folder, which gets its quiva.ini; the
#              volume control is registered in the private HOME, as `make run` does.
#   mpg123     `mpg123 -q -o pulse FILE`. It has no window: no start-up, idle or list figure.
#   mpv        `mpv --no-config --force-window=yes --idle=yes --vo=x11 --ao=pulse [FILE]`, and
#              with `--pause DIR` for the directory. Its default video output renders OpenGL
#              in software (llvmpipe) on Xvfb, which would bill mpv for a GPU it does not have;
#              x11 is its plain X output. Not a skinned player.
#   qmmp       `qmmp [FILE]`, `qmmp -e DIR`, with its default skinned interface and the
#              PulseAudio output chosen in ~/.qmmp/qmmprc (its default is ALSA).
#   audacious  `audacious [FILE]`, `audacious -e DIR`, in its default GTK mode with the Winamp
#              Classic (skinned) interface enabled in place of the GTK one in its private
#              plugin-registry.
#   The directory goes to the peers to be listed without playing (-e: enqueue; --pause), as
#   quiva lists it.
#
# What is measured.
#   start-up       exec to the first top-level window mapped: one xev listens for the root's
#                  SubstructureNotify for the whole bench, and the clock stops when bash reads
#                  a MapNotify of a window that is not override-redirect (no window manager
#                  runs, so top-level windows are children of the root). Median of 10.
#   settled        a program has settled once, over one second, its utime+stime (/proc/PID/stat,
#                  10 ms ticks) grew by at most 4 ticks and its threads ran or waited for a CPU
#                  (/proc/PID/task/*/schedstat) at most 40 ms: at most 4 % of a core, even on a
#                  busy machine. The moment is the start of that second. Sampled every 0.1 s
#                  without forking.
#   RSS idle       VmRSS of /proc/PID/status once the started program has settled (median of
#                  the 10 start-ups).
#   RSS playing    VmRSS sampled at 10, 15, 20, 25 and 30 s of playback of a 60 s, 192 kbit/s
#                  stereo MP3 of pink noise. quiva plays it by a double click on its playlist
#                  entry, the peers from their command line.
#   CPU            CPU time of all the program's threads (/proc/PID/task/*/schedstat, ns) from
#                  10 s to 30 s of that playback, scaled to one minute; the spread is that of
#                  the four 5 s stretches. Threads that end inside the stretch would be missed;
#                  players keep their threads while playing. The main thread's share is shown
#                  (the GUI's timers and painting run there), and so is the sound server's CPU
#                  over the same stretch: a player that writes in tiny pieces shifts work there.
#   10,000 files   a directory of 10,000 MP3 files (hard links to one 1 s file) handed to each
#                  player the way it takes one: quiva through "DIR" in its quiva.ini, which its
#                  start-up lists before showing the window (the ADD DIR flow lists the same way);
#                  the peers on their command line. The clock runs from exec until the first
#                  window is mapped and the program has then settled, i.e. it has finished
#                  listing (and, for qmmp and audacious, reading every file's tags); mpv has no
#                  list view and counts once it has expanded the directory and opened its first
#                  file, paused.
#                  Median of up to 3: no new start once the runs took 60 s; a program still
#                  busy 60 s after its window was mapped is reported as such.
#   click to sound quiva only: xdotool presses once on the playlist entry, the clock starts, a
#                  second xdotool presses again (the double click); the clock stops when a
#                  recorder of the sink's monitor (parec, 5 ms fragments, read by a small perl
#                  loop) receives the first sample above 1 % of full scale. The null sink renders
#                  in blocks as long as the smallest latency any client asks for (2 s when none
#                  asks), so a second recorder asking for 5 ms stays connected throughout. The
#                  figure includes xdotool's own start and the recorder's 5 ms. Median of 10.
set -u

build=$(cd "${QUIVA_BUILD_DIR:-build}" 2>/dev/null && pwd) || build=${QUIVA_BUILD_DIR:-build}
peers=(mpg123 mpv qmmp audacious)
gui_peers=(mpv qmmp audacious)
skinned_peers=(qmmp audacious)
startup_runs=10
list_runs=3
click_runs=10
list_files=10000
map_timeout_s=20
list_timeout_s=60
list_budget_s=60
play_warmup_s=10
cpu_stretches=4
cpu_stretch_s=5

source "$(dirname "$0")/lib/harness.bash"

work=""
xvfb_pid="" pulse_pid="" xev_pid="" program_pid="" keeper_pid="" recorder_pid="" detector_pid=""

cleanup() {
    stop_pid "$program_pid"
    stop_pid "$recorder_pid"
    stop_pid "$detector_pid"
    stop_pid "$keeper_pid"
    stop_pid "$xev_pid"
    stop_pid "$pulse_pid"
    stop_pid "$xvfb_pid"
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

not_available() {
    row "side by side with mpg123, mpv, qmmp, audacious" "n/a ($1)" "-"
    exit 0
}

# Sleeps without forking: a read that times out on a FIFO nobody writes.
nap() { read -r -t "$1" -u "$nap_fd" _; }

now_us() { REPLY=${EPOCHREALTIME/[.,]/}; }

# utime + stime of a process in clock ticks, without forking; fails once the process is gone.
ticks_of() {
    local line
    read -r line 2>/dev/null <"/proc/$1/stat" || return 1
    line=${line##*) }
    local -a field=($line)
    REPLY=$((field[11] + field[12]))
}

rss_kb_of() {
    local key value
    while read -r key value _; do
        [ "$key" = VmRSS: ] && { REPLY=$value; return 0; }
    done 2>/dev/null <"/proc/$1/status"
    return 1
}

# Remembers the CPU nanoseconds of every thread of a process, by thread id.
declare -A cpu_base
cpu_snapshot() {
    local file tid ns
    cpu_base=()
    for file in /proc/"$1"/task/*/schedstat; do
        read -r ns _ 2>/dev/null <"$file" || continue
        tid=${file%/schedstat}
        cpu_base[${tid##*/}]=$ns
    done
}
# Nanoseconds the process's threads ran since cpu_snapshot, and in main_thread_ns those of its
# main thread (where the GUI toolkits run); starts the next stretch.
cpu_since_snapshot() {
    local file tid ns sum=0
    main_thread_ns=0
    declare -A now=()
    for file in /proc/"$1"/task/*/schedstat; do
        read -r ns _ 2>/dev/null <"$file" || continue
        tid=${file%/schedstat}
        tid=${tid##*/}
        now[$tid]=$ns
        sum=$((sum + ns - ${cpu_base[$tid]:-0}))
        [ "$tid" = "$1" ] && main_thread_ns=$((ns - ${cpu_base[$tid]:-0}))
    done
    cpu_base=()
    for tid in "${!now[@]}"; do cpu_base[$tid]=${now[$tid]}; done
    REPLY=$sum
}

# Nanoseconds that the threads of a process that run now have spent running, plus, with a
# second argument "waiting", the time they spent ready to run but waiting for a CPU.
threads_ns() {
    local file run wait sum=0
    for file in /proc/"$1"/task/*/schedstat; do
        read -r run wait _ 2>/dev/null <"$file" || continue
        sum=$((sum + run))
        [ "${2:-}" = waiting ] && sum=$((sum + wait))
    done
    REPLY=$sum
}

# "median min max" of the numbers given one a line on stdin; nothing when there are none.
summary() {
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) exit 1
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        print m, v[1], v[NR] }'
}

setup() {
    [ -x "$build/bin/quiva" ] || not_available "no $build/bin/quiva"
    for tool in Xvfb xev xdotool xwininfo stdbuf pulseaudio parec pactl sox lame perl; do
        command -v "$tool" >/dev/null || not_available "$tool not installed"
    done
    work=$(mktemp -d /tmp/quiva-bench-peers.XXXXXX)
    mkfifo "$work/nap"
    exec {nap_fd}<>"$work/nap"
    mkdir -p "$work/homes" "$work/runs" "$work/music" "$work/tenk" "$work/empty"
    printf 'autospawn = no\n' >"$work/client.conf"
    export PULSE_CLIENTCONFIG="$work/client.conf" QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
    start_x_server 1280x1024x24
    start_sound_server
    start_map_listener
    make_media
}

start_sound_server() {
    local root=$work/pulse
    mkdir -p "$root/runtime" "$root/state" "$root/home"
    chmod 700 "$root/runtime"
    cat >"$work/pulse.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$root/native
load-module module-null-sink sink_name=bench rate=44100 channels=2
set-default-sink bench
EOF
    # Without the X display it reaches for no session bus: libdbus would start one for that
    # display (dbus-launch --autolaunch), a daemon the bench neither wants nor stops.
    HOME="$root/home" XDG_RUNTIME_DIR="$root/runtime" XDG_CONFIG_HOME="$root/home" \
        PULSE_STATE_PATH="$root/state" env -u DISPLAY pulseaudio -n -F "$work/pulse.pa" \
        --daemonize=no --exit-idle-time=-1 --realtime=no --high-priority=no >/dev/null 2>&1 &
    pulse_pid=$!
    export PULSE_SERVER="unix:$root/native"
    for _ in $(seq 250); do
        pactl info >/dev/null 2>&1 && return 0
        kill -0 "$pulse_pid" 2>/dev/null || break
        nap 0.02
    done
    not_available "PulseAudio did not start"
}

make_media() {
    sox -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 60 pinknoise vol 0.5 &&
        lame --quiet -b 192 "$work/noise.wav" "$work/music/bench.mp3" &&
        sox -n -r 44100 -c 2 -b 16 "$work/short.wav" synth 1 pinknoise vol 0.5 &&
        lame --quiet -b 128 "$work/short.wav" "$work/short.mp3" ||
        not_available "cannot make the test MP3 files"
    rm -f "$work/noise.wav" "$work/short.wav"
    perl -e 'my ($src, $dir, $n) = @ARGV;
        for my $i (1 .. $n) { link $src, sprintf("%s/song%05d.mp3", $dir, $i) or die "$!\n" }' \
        "$work/short.mp3" "$work/tenk" "$list_files" || not_available "cannot make $list_files files"
}

have() {
    case $1 in
    quiva) ;;
    qt-floor) [ -x "$build/bench/quiva-qt-floor" ] ;;
    *) command -v "$1" >/dev/null ;;
    esac
}

# The command line of a program in one mode (idle, play, list) into the array `cmd`; quiva,
# which takes no arguments, gets the directory to list in the quiva.ini of the run's HOME ($3).
command_for() {
    local name=$1 mode=$2 home=$3 argument=()
    case $mode in
    play) argument=("$work/music/bench.mp3") ;;
    list) argument=("$work/tenk") ;;
    esac
    case $name in
    quiva)
        cmd=("$home/program/quiva")
        local listed=$work/tenk
        [ "$mode" = play ] && listed=$work/music
        [ "$mode" = idle ] ||
            printf '[quiva]\nDIR=%s/\nHEIGHT=5580\n' "$listed" >"$home/program/quiva.ini"
        ;;
    qt-floor) cmd=("$build/bench/quiva-qt-floor") ;;
    mpg123) cmd=(mpg123 -q -o pulse "${argument[@]}") ;;
    mpv)
        cmd=(mpv --no-config --force-window=yes --idle=yes --vo=x11 --ao=pulse --no-terminal)
        [ "$mode" = list ] && cmd+=(--pause) # lists, as quiva does, without playing
        cmd+=("${argument[@]}")
        ;;
    qmmp | audacious)
        cmd=("$name")
        [ "$mode" = list ] && cmd+=(-e) # enqueue: lists without playing
        cmd+=("${argument[@]}")
        ;;
    esac
}

# Starts a program in a fresh copy of its warmed-up HOME; sets program_pid and start_us.
# Every start also notes the machine's 1-minute load average, which goes with the figures.
launch() {
    local name=$1 mode=$2 home=$work/runs/$1 load
    read -r load _ </proc/loadavg && echo "$load" >>"$work/load"
    rm -rf "$home"
    cp -a "$work/homes/$name" "$home"
    command_for "$name" "$mode" "$home"
    drain_events 0.05
    now_us
    start_us=$REPLY
    (
        cd "$work/empty" || exit 1
        export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
        export XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$home/runtime
        exec "${cmd[@]}" >/dev/null 2>&1
    ) &
    program_pid=$!
}

stop_program() {
    stop_pid "$program_pid"
    program_pid=""
}

# Waits for the running program's first top-level window to be mapped; map_us is the moment.
wait_for_map() {
    local line deadline
    deadline=$((start_us + map_timeout_s * 1000000))
    while :; do
        if read -r -t 0.1 -u "$events_fd" line; then
            [[ $line == MapNotify* ]] || continue
            read -r -t 1 -u "$events_fd" line
            [[ $line == *"override NO"* ]] || continue
            now_us
            map_us=$REPLY
            return 0
        fi
        now_us
        ((REPLY < deadline)) || return 1
        kill -0 "$program_pid" 2>/dev/null || return 1
    done
}

# Waits (at most $1 s) until the running program has settled; settled_us is the moment.
# Both counts must stay low: the ticks include threads that have ended, and the run-queue wait
# keeps a program that a busy machine starves of the CPU from looking idle.
wait_settled() {
    local limit_us times=() ticks=() busy=() i
    now_us
    limit_us=$((REPLY + $1 * 1000000))
    while :; do
        ticks_of "$program_pid" || return 1
        ticks+=("$REPLY")
        threads_ns "$program_pid" waiting
        busy+=("$REPLY")
        now_us
        times+=("$REPLY")
        i=$((${#ticks[@]} - 1))
        if ((i >= 10 && ticks[i] - ticks[i - 10] <= 4 && busy[i] - busy[i - 10] <= 40000000)); then
            settled_us=${times[i - 10]}
            return 0
        fi
        ((times[i] < limit_us)) || return 1
        nap 0.1
    done
}

# The warm-up start that makes a program's HOME; audacious then gets its skinned interface and
# a second warm-up with it.
prepare_home() {
    local name=$1 home=$work/homes/$1
    mkdir -p "$home/runtime" "$home/.config" "$home/.local/share" "$home/.cache"
    chmod 700 "$home/runtime"
    case $name in
    quiva)
        mkdir -p "$home/program"
        cp "$build/bin/quiva" "$home/program/quiva"
        if [ -x "$build/bin/quiva-regsvr" ] && [ -f "$build/lib/libDalvex.so" ]; then
            HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
                "$build/bin/quiva-regsvr" "$build/lib/libDalvex.so" >/dev/null 2>&1
        fi
        ;;
    qmmp)
        mkdir -p "$home/.qmmp"
        printf '[Output]\ncurrent_plugin=pulse\n' >"$home/.qmmp/qmmprc"
        ;;
    esac
    [ "$name" = mpg123 ] && return 0
    warm_up "$name" || return 1
    if [ "$name" = audacious ]; then
        local registry=$home/.config/audacious/plugin-registry
        [ -f "$registry" ] || return 1
        awk '/^iface /   { plugin = $2 }
             /^enabled / { if (plugin ~ /\/gtkui\.so$/) $0 = "enabled 0"
                           else if (plugin ~ /\/skins\.so$/) $0 = "enabled 1" }
             { print }' "$registry" >"$registry.new" && mv "$registry.new" "$registry"
        rm -rf "$home/.config/audacious/playlists" "$home/.config/audacious/playlist-state"
        warm_up "$name" || return 1
        # audacious rewrites the registry at exit: the skinned interface must still be the one.
        awk '/^iface / { plugin = $2 } /^enabled 1/ && plugin ~ /\/skins\.so$/ { found = 1 }
             END { exit !found }' "$registry"
    fi
}

warm_up() {
    launch "$1" idle
    wait_for_map && wait_settled 20
    local ok=$?
    stop_program
    rm -rf "$work/homes/$1"
    mv "$work/runs/$1" "$work/homes/$1"
    return $ok
}

# Records a figure: results/<program>.<metric> gets one number a line.
record() { echo "$3" >>"$work/results/$1.$2"; }

measure_startup() {
    local name=$1
    launch "$name" idle
    if wait_for_map; then
        record "$name" startup_ms "$(((map_us - start_us) / 1000))"
        wait_settled 10 && rss_kb_of "$program_pid" && record "$name" rss_idle_kb "$REPLY"
    fi
    stop_program
}

# Plays the 60 s file: RSS at 10 s and every 5 s after, CPU per 5 s stretch from 10 s on.
measure_playback() {
    local name=$1 stretch total=0 main_total=0 server_start
    launch "$name" play
    if [ "$name" = quiva ]; then
        wait_for_map && wait_settled 10 && double_click_entry || {
            stop_program
            return 1
        }
    fi
    nap "$play_warmup_s"
    rss_kb_of "$program_pid" && record "$name" rss_play_kb "$REPLY"
    cpu_snapshot "$program_pid"
    threads_ns "$pulse_pid"
    server_start=$REPLY
    for stretch in $(seq "$cpu_stretches"); do
        nap "$cpu_stretch_s"
        kill -0 "$program_pid" 2>/dev/null || break
        cpu_since_snapshot "$program_pid"
        total=$((total + REPLY))
        main_total=$((main_total + main_thread_ns))
        record "$name" cpu_stretch_ms_per_min "$((REPLY * 60 / cpu_stretch_s / 1000000))"
        rss_kb_of "$program_pid" && record "$name" rss_play_kb "$REPLY"
    done
    if ((stretch == cpu_stretches)); then
        threads_ns "$pulse_pid"
        local seconds=$((cpu_stretches * cpu_stretch_s))
        record "$name" cpu_ms_per_min "$((total * 60 / seconds / 1000000))"
        record "$name" main_cpu_ms_per_min "$((main_total * 60 / seconds / 1000000))"
        record "$name" server_cpu_ms_per_min "$(((REPLY - server_start) * 60 / seconds / 1000000))"
        pactl list short sink-inputs 2>/dev/null | grep -q . || record "$name" no_stream 1
    fi
    stop_program
}

# quiva's main window, with the playlist shown, has its first entry at (60, 102).
window_origin() {
    local id info
    id=$(xdotool search --onlyvisible --pid "$program_pid" --name '^Quiva Media Player$' | head -n1)
    [ -n "$id" ] || return 1
    info=$(xwininfo -id "$id")
    origin_x=$(awk '/Absolute upper-left X:/ { print $4 }' <<<"$info")
    origin_y=$(awk '/Absolute upper-left Y:/ { print $4 }' <<<"$info")
}

double_click_entry() {
    window_origin || return 1
    xdotool mousemove $((origin_x + 60)) $((origin_y + 102)) click --repeat 2 --delay 80 1
}

# One start with the directory. A program gets no new start once its runs so far took
# list_budget_s, so that a slow peer does not stretch the bench past a few minutes.
declare -A list_spent_ms
measure_list() {
    local name=$1
    ((${list_spent_ms[$name]:-0} < list_budget_s * 1000)) || return 0
    launch "$name" list
    if wait_for_map && wait_settled "$list_timeout_s"; then
        record "$name" list_ms "$(((settled_us - start_us) / 1000))"
    else
        record "$name" list_ms_missed 1
    fi
    stop_program
    now_us
    list_spent_ms[$name]=$((${list_spent_ms[$name]:-0} + (REPLY - start_us) / 1000))
}

# The first sample above 1 % of full scale that a recorder of the monitor receives, as the
# wall-clock time (seconds) printed by the reader.
start_sound_detector() {
    rm -f "$work/heard" "$work/monitor"
    mkfifo "$work/monitor"
    parec --raw --format=s16le --rate=44100 --channels=2 --latency-msec=5 -d bench.monitor \
        >"$work/monitor" 2>/dev/null &
    recorder_pid=$!
    perl -MTime::HiRes=time -e '
        binmode STDIN;
        my $carry = "";
        while (sysread(STDIN, my $block, 65536)) {
            my $at = time;
            $block = $carry . $block;
            my $whole = length($block) - length($block) % 2;
            $carry = substr($block, $whole);
            next unless substr($block, 0, $whole) =~ /[^\0]/;
            for (unpack "s<*", substr($block, 0, $whole)) {
                if (abs($_) > 328) { printf "%.6f\n", $at; exit 0 }
            }
        }
        exit 1' <"$work/monitor" >"$work/heard" &
    detector_pid=$!
}

measure_click_to_sound() {
    launch quiva play
    wait_for_map && wait_settled 10 && window_origin || {
        stop_program
        return 1
    }
    parec --raw --latency-msec=5 -d bench.monitor >/dev/null 2>&1 &
    keeper_pid=$!
    nap 2.5 # the null sink takes the keeper's latency once its current block (up to 2 s) ends
    for _ in $(seq "$click_runs"); do
        xdotool mousemove $((origin_x + 109)) $((origin_y + 51)) click 1 # stop: silence
        start_sound_detector
        nap 0.4
        xdotool mousemove $((origin_x + 60)) $((origin_y + 102)) click 1
        now_us
        local click_us=$REPLY
        xdotool click 1
        local heard=""
        for _ in $(seq 150); do
            kill -0 "$detector_pid" 2>/dev/null || break
            nap 0.02
        done
        stop_pid "$recorder_pid"
        recorder_pid=""
        wait "$detector_pid" 2>/dev/null
        detector_pid=""
        read -r heard 2>/dev/null <"$work/heard"
        if [ -n "$heard" ]; then
            record quiva click_ms "$(awk -v h="$heard" -v c="$click_us" \
                'BEGIN { printf "%.1f", h * 1000 - c / 1000 }')"
        else
            record quiva click_ms_missed 1
        fi
    done
    stop_program
    stop_pid "$keeper_pid"
    keeper_pid=""
}

# --- reporting ---

count_of() { [ -f "$work/results/$1.$2" ] && wc -l <"$work/results/$1.$2" || echo 0; }

# "median min max" of a metric of a program, in the unit the records have.
stats_of() { [ -f "$work/results/$1.$2" ] && summary <"$work/results/$1.$2"; }

median_of() {
    local s
    s=$(stats_of "$1" "$2") || return 1
    echo "${s%% *}"
}

# One table cell: the median of one metric and the min–max of another (usually the same one),
# divided by $4 (e.g. 1024 for kB to MB): "median unit (min–max)".
cell() {
    local name=$1 metric=$2 spread_metric=$3 divisor=$4 unit=$5 format=$6 median s
    median=$(median_of "$name" "$metric") || return 1
    s=$(stats_of "$name" "$spread_metric") || return 1
    awk -v m="$median" -v s="$s" -v d="$divisor" -v u="$unit" -v f="$format" 'BEGIN {
        split(s, v, " ")
        printf f " %s (" f "–" f ")", m / d, u, v[2] / d, v[3] / d }'
}

# The program with the smallest median of a metric among those named; prints "name median".
leanest() {
    local metric=$1 best="" best_value="" name value
    shift
    for name in "$@"; do
        value=$(median_of "$name" "$metric") || continue
        if [ -z "$best" ] || awk -v a="$value" -v b="$best_value" 'BEGIN { exit !(a < b) }'; then
            best=$name best_value=$value
        fi
    done
    [ -n "$best" ] && echo "$best $best_value"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }
at_most() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }

# A side-by-side table row: the metric, each program's cell, and quiva's ratio to a reference
# ("name median" of the metric, as leanest prints it).
table_row() {
    local label=$1 metric=$2 spread_metric=$3 divisor=$4 unit=$5 format=$6 reference=$7
    local line="| $label |" name text missed
    for name in quiva "${peers[@]}"; do
        if text=$(cell "$name" "$metric" "$spread_metric" "$divisor" "$unit" "$format"); then
            missed=$(count_of "$name" "${metric}_missed")
            [ "$missed" -gt 0 ] && text+=", $missed missed"
            [ "$metric" = list_ms ] && [ "$(count_of "$name" list_ms)" -lt "$list_runs" ] &&
                text+=", $(count_of "$name" list_ms) of $list_runs runs"
            [[ $metric == *cpu* || $metric == rss_play* ]] &&
                [ "$(count_of "$name" no_stream)" -gt 0 ] && text+=" (no stream at the end)"
        else
            text=$(why_missing "$name" "$metric")
        fi
        line+=" $text |"
    done
    local ref_text="-" quiva_value ref_name ref_value
    if [ -n "$reference" ] && quiva_value=$(median_of quiva "$metric"); then
        read -r ref_name ref_value <<<"$reference"
        ref_text="$(ratio "$quiva_value" "$ref_value")× $ref_name"
    fi
    echo "$line $ref_text |"
}

why_missing() {
    local name=$1 metric=$2
    if ! have "$name"; then
        echo "not installed"
    elif [ "$metric" = click_ms ] && [ "$name" != quiva ]; then
        echo "-"
    elif [ "$name" = mpg123 ] && [[ $metric != *cpu* && $metric != rss_play* ]]; then
        echo "no window"
    elif [ "$metric" = list_ms ] && [ "$(count_of "$name" list_ms_missed)" -gt 0 ]; then
        echo "busy after ${list_timeout_s} s"
    elif [ -f "$work/results/$name.unprepared" ]; then
        echo "did not start"
    else
        echo "n/a"
    fi
}

side_by_side_table() {
    local load
    load=$(summary <"$work/load" | awk '{ printf "%s (%s–%s)", $1, $2, $3 }')
    echo "Side by side, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores; 1-minute load" \
        "average at the program starts: median $load."
    echo
    local name header="| metric | quiva |" rule="|---|---|"
    for name in "${peers[@]}"; do
        header+=" $name |"
        rule+="---|"
    done
    echo "$header quiva ÷ reference |"
    echo "$rule---|"
    table_row "start-up: exec to window mapped, median of $startup_runs (min–max)" startup_ms \
        startup_ms 1 ms %.0f "$ref_startup"
    table_row "RSS idle, started and settled, median of $startup_runs (min–max)" rss_idle_kb \
        rss_idle_kb 1024 MB %.1f "$ref_rss_idle"
    table_row "RSS while playing, at 10, 15 … 30 s (min–max)" rss_play_kb rss_play_kb 1024 MB \
        %.1f "$ref_rss_play"
    table_row "CPU per minute of playback, over 20 s (min–max of its 5 s stretches)" \
        cpu_ms_per_min cpu_stretch_ms_per_min 1 ms %.0f "$ref_cpu"
    table_row "of which the main thread (the GUI's in Qt and GTK)" main_cpu_ms_per_min \
        main_cpu_ms_per_min 1 ms %.0f ""
    table_row "sound server CPU per minute over the same 20 s" server_cpu_ms_per_min \
        server_cpu_ms_per_min 1 ms %.0f ""
    table_row "$list_files MP3 files in a directory until listed, median of $list_runs (min–max)" \
        list_ms list_ms 1 ms %.0f "$ref_list"
    table_row "click to sound, median of $click_runs (min–max)" click_ms click_ms 1 ms %.0f ""
}

# A target row: what, "ratio× (quiva vs reference) — met/NOT met", target.
target_row() {
    local what=$1 metric=$2 reference=$3 limit=$4 strict=$5 target=$6 divisor=$7 unit=$8
    local quiva_value ref_name ref_value r verdict
    if ! quiva_value=$(median_of quiva "$metric"); then
        row "$what" "n/a (quiva: $(why_missing quiva "$metric"))" "$target"
        return
    fi
    if [ -z "$reference" ]; then
        row "$what" "n/a (no peer measured)" "$target"
        return
    fi
    read -r ref_name ref_value <<<"$reference"
    r=$(ratio "$quiva_value" "$ref_value")
    if [ "$strict" = yes ]; then
        awk -v a="$r" -v b="$limit" 'BEGIN { exit !(a < b) }' && verdict=met || verdict="NOT met"
    else
        at_most "$r" "$limit" && verdict=met || verdict="NOT met"
    fi
    row "$what" "$(awk -v r="$r" -v q="$quiva_value" -v p="$ref_value" -v d="$divisor" \
        -v u="$unit" -v n="$ref_name" -v v="$verdict" \
        'BEGIN { printf "%s× (%.1f %s vs %s %.1f %s): %s", r, q / d, u, n, p / d, u, v }')" "$target"
}

target_rows() {
    target_row "peers: start-up, quiva vs the fastest skinned peer" startup_ms "$ref_startup" \
        0.5 no "≤ 0.5×" 1 ms
    target_row "peers: RSS idle, quiva vs the leanest GUI peer" rss_idle_kb "$ref_rss_idle" 1 no \
        "≤ 1×" 1024 MB
    target_row "peers: RSS while playing, quiva vs the leanest GUI peer" rss_play_kb \
        "$ref_rss_play" 1 no "≤ 1×" 1024 MB
    target_row "peers: CPU per minute of playback, quiva vs mpg123" cpu_ms_per_min "$ref_cpu" 1.2 \
        no "≤ 1.2×" 1 ms
    target_row "peers: $list_files-file directory until listed, quiva vs the fastest peer" \
        list_ms "$ref_list" 1 yes "< 1×" 1 ms
    local click
    if click=$(median_of quiva click_ms); then
        local verdict="NOT met"
        at_most "$click" 99.999 && verdict=met
        row "peers: click to sound (xdotool double click to the sink's monitor), median of $click_runs" \
            "$(cell quiva click_ms click_ms 1 ms %.0f): $verdict" "< 100 ms"
    else
        row "peers: click to sound" "n/a (the entry was never heard)" "< 100 ms"
    fi
}

main() {
    setup
    mkdir -p "$work/results"
    local name ready=()
    for name in quiva "${peers[@]}"; do
        have "$name" || continue
        if prepare_home "$name"; then
            ready+=("$name")
        else
            touch "$work/results/$name.unprepared"
        fi
    done
    for _ in $(seq "$startup_runs"); do
        for name in "${ready[@]}"; do [ "$name" = mpg123 ] || measure_startup "$name"; done
    done
    for name in "${ready[@]}"; do measure_playback "$name"; done
    for _ in $(seq "$list_runs"); do
        for name in "${ready[@]}"; do [ "$name" = mpg123 ] || measure_list "$name"; done
    done
    [ "${ready[0]:-}" = quiva ] && measure_click_to_sound

    ref_startup=$(leanest startup_ms "${skinned_peers[@]}")
    ref_rss_idle=$(leanest rss_idle_kb "${gui_peers[@]}")
    ref_rss_play=$(leanest rss_play_kb "${gui_peers[@]}")
    ref_cpu=$(median_of mpg123 cpu_ms_per_min | sed 's/^/mpg123 /')
    ref_list=$(leanest list_ms "${gui_peers[@]}")
    if [ -n "${QUIVA_BENCH_NOTES:-}" ]; then
        side_by_side_table >>"$QUIVA_BENCH_NOTES"
    else
        side_by_side_table
        echo
    fi
    target_rows
}

# bench/display-cpu.sh sources this file for its helpers.
[[ ${BASH_SOURCE[0]} == "$0" ]] && main
