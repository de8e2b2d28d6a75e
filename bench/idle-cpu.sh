#!/usr/bin/env bash
# CPU the idle player uses while both strips scroll: the real binary on a private Xvfb, its
# user+system time over 20 s after start-up has settled, as a share of one core.
# Prints one row "| what | measured | target |". Env: QUIVA_BUILD_DIR (default: build).
set -u
build=$(cd "${QUIVA_BUILD_DIR:-build}" 2>/dev/null && pwd) || build=build
label="idle player, both strips scrolling: CPU over 20 s"
target="< 1% of a core"
row() { printf '| %s | %s | %s |\n' "$label" "$1" "$target"; }

work=$(mktemp -d /tmp/quiva-bench-idle.XXXXXX)
xvfb_pid="" player_pid=""
cleanup() {
    for pid in $player_pid $xvfb_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

[ -x "$build/bin/quiva" ] || { row "n/a (no $build/bin/quiva)"; exit 0; }
display=""
for n in $(seq 140 200); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done

mkdir -p "$work/program" "$work/home" "$work/runtime" && chmod 700 "$work/runtime"
cp "$build/bin/quiva" "$work/program/"
HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_DATA_HOME="$work/home/.local/share" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    "$work/program/quiva" >/dev/null 2>&1 &
player_pid=$!
DISPLAY="$display" timeout 10 xdotool search --sync --onlyvisible --name "Quiva Media Player" \
    >/dev/null || { row "n/a (window never showed)"; exit 0; }
sleep 2

ticks() { awk '{ print $14 + $15 }' "/proc/$player_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep 20
after=$(ticks)
row "$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "%.2f%% of a core", 100 * t / hz / 20 }')"
