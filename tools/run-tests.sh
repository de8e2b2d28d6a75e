#!/usr/bin/env bash
# Runs ctest in a build folder with the given arguments and, every half minute, names each test
# that has run that long and how far it says it has got, so a long run (the soak test: minutes)
# is not mistaken for a hang.
# Usage: tools/run-tests.sh BUILD_DIR [CTEST_ARGUMENTS...]
set -euo pipefail
build=$1
shift
QUIVA_PROGRESS_DIR=$(mktemp -d /tmp/quiva-progress.XXXXXX)
export QUIVA_PROGRESS_DIR
(cd "$build" && exec ctest "$@") &
ctest_pid=$!
trap 'kill "$ctest_pid" 2>/dev/null; rm -rf "$QUIVA_PROGRESS_DIR"' EXIT

report() {
    local now test started progress
    now=$(date +%s)
    for test in "$QUIVA_PROGRESS_DIR"/*/; do
        [ -f "$test/started" ] || continue
        started=$(cat "$test/started" 2>/dev/null) || continue
        [ $((now - started)) -ge 30 ] || continue
        progress=$(cat "$test/progress" 2>/dev/null || true)
        echo "    ... $(basename "$test") running for $((now - started)) s${progress:+: $progress}"
    done
}

while kill -0 "$ctest_pid" 2>/dev/null; do
    for _ in $(seq 30); do
        kill -0 "$ctest_pid" 2>/dev/null || break
        sleep 1
    done
    kill -0 "$ctest_pid" 2>/dev/null && report
done
status=0
wait "$ctest_pid" || status=$?
trap 'rm -rf "$QUIVA_PROGRESS_DIR"' EXIT
exit "$status"
