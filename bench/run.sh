#!/usr/bin/env bash
# Runs every benchmark and prints one table. Usage: bench/run.sh BUILD_DIR
# Each bench-* program and each bench/*.sh script prints rows "| what | measured | target |".
set -u
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
echo "Machine: $(nproc) cores, $(uname -sr), $(date -u +%Y-%m-%d)"
echo
echo "| benchmark | measured | target |"
echo "|---|---|---|"
for prog in "$build"/bench/bench-*; do
    [ -x "$prog" ] && QT_QPA_PLATFORM=offscreen "$prog"
done
for script in "$here"/*.sh; do
    [ "$(basename "$script")" = run.sh ] || QUIVA_BUILD_DIR="$build" bash "$script"
done
