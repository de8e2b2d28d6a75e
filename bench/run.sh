#!/usr/bin/env bash
# Runs every benchmark and prints one table. Usage: bench/run.sh BUILD_DIR
# Each bench-* program and each bench/*.sh script prints rows "| what | measured | target |";
# a script may also append a section of its own to the file QUIVA_BENCH_NOTES, printed after
# the table.
set -u
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
notes=$(mktemp /tmp/quiva-bench-notes.XXXXXX)
trap 'rm -f "$notes"' EXIT
cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1)
echo "Machine: $(nproc) cores ($cpu), $(uname -sr), $(date -u '+%Y-%m-%d %H:%M UTC')," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo
echo "| benchmark | measured | target |"
echo "|---|---|---|"
for prog in "$build"/bench/bench-*; do
    [ -x "$prog" ] && QT_QPA_PLATFORM=offscreen "$prog"
done
for script in "$here"/*.sh; do
    [ "$(basename "$script")" = run.sh ] ||
        QUIVA_BUILD_DIR="$build" QUIVA_BENCH_NOTES="$notes" bash "$script"
done
if [ -s "$notes" ]; then
    echo
    cat "$notes"
fi
