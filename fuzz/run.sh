#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a bounded time each and says what it saw.
# Usage: fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]
# Each run starts from the committed corpus (fuzz/corpus/<name>/) and keeps what it finds in
# BUILD_DIR/fuzz-corpus/<name>/; crashing or invariant-breaking inputs are written to
# BUILD_DIR/fuzz-findings/<name>-crash-* (name them and copy them into the corpus to keep them
# as regression tests). Exit status: non-zero when any target found something.
set -uo pipefail
build=${1:?usage: $0 BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: $0 BUILD_DIR SECONDS [TARGET...]}
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd) # absolute: the MCI target works in a folder of its own
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=($(sed -n 's/^set(QUIVA_FUZZ_TARGETS \(.*\))$/\1/p' "$source_dir/fuzz/FuzzTargets.cmake"))
fi

export QUIVA_BUILD_DIR=$build QT_QPA_PLATFORM=offscreen
# The INI writer syncs every file it writes: scratch files on tmpfs keep that cheap.
if [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# Leaks are what a long run finds last; report them, but let the run say which input.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
mkdir -p "$build/fuzz-findings"
for name in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$name
    log=$build/fuzz-findings/$name.log
    mkdir -p "$corpus"
    rm -f "$build/fuzz-findings/$name-"*
    "$build/bin/fuzz-$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$name-" \
        "$corpus" "$source_dir/fuzz/corpus/$name" </dev/null >"$log" 2>&1
    result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    found=$(ls "$build/fuzz-findings" | grep -c "^$name-\(crash\|timeout\|leak\|oom\)-" || true)
    echo "| fuzz-$name | ${runs:-?} runs in ${seconds}s, ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l) | findings: $found (exit $result) |"
    [ "$result" -eq 0 ] || status=1
done
exit $status
