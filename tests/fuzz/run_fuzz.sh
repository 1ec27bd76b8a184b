#!/usr/bin/env bash
# Runs the fuzz targets.
#   run_fuzz.sh short SECONDS FUZZER SEEDS REGRESSIONS DICTIONARY WORK
#       The CTest run: a fresh copy of the seeds and the regression inputs in WORK/corpus, all
#       run first, then fuzzing for SECONDS. Fails on any crash, leak, UB report or hang.
#   run_fuzz.sh long SECONDS FUZZER SEEDS REGRESSIONS DICTIONARY WORK
#       The same over a corpus kept in WORK/corpus between runs, seeds and regressions added.
#   run_fuzz.sh all SECONDS TARGET-LIST WORK
#       `make fuzz`: every target of the list (name fuzzer seeds regressions dictionary, one a
#       line) in long mode, WORK/<name> each; fails when any target failed.
# DICTIONARY is "-" for none. Crash inputs land in WORK as crash-*, leak-*, timeout-*; copy one
# into the target's regressions folder once its fault is fixed.
set -uo pipefail

mode=$1
seconds=$2

if [ "$mode" = all ]; then
    list=$3
    work=$4
    failed=()
    while read -r name fuzzer seeds regressions dictionary; do
        [ -n "$name" ] || continue
        echo "== fuzz_$name, $seconds s"
        if ! bash "$0" long "$seconds" "$fuzzer" "$seeds" "$regressions" "$dictionary" "$work/$name"; then
            failed+=("$name")
        fi
    done <"$list"
    if [ ${#failed[@]} -gt 0 ]; then
        echo "fuzz targets that failed: ${failed[*]} (inputs in $work/<name>)"
        exit 1
    fi
    echo "every fuzz target ran $seconds s without a fault"
    exit 0
fi

fuzzer=$3
seeds=$4
regressions=$5
dictionary=$6
work=$7

if [ "$mode" = short ]; then
    rm -rf "$work"
fi
mkdir -p "$work/corpus"
for folder in "$seeds" "$regressions"; do
    if [ -d "$folder" ]; then
        find "$folder" -maxdepth 1 -type f ! -name '.*' -exec cp -f {} "$work/corpus/" \;
    fi
done

options=(
    -max_total_time="$seconds"
    -print_final_stats=1
    -timeout=30
    -rss_limit_mb=2048
    -artifact_prefix="$work/"
)
if [ "$dictionary" != "-" ]; then
    options+=(-dict="$dictionary")
fi
# Leaks and UB end the run with a report, as a crash does.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The targets' emulated homes go under a folder removed however the run ends, a crash included;
# on /dev/shm when there is one, as every emulated write syncs.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
BRISVANDER_FUZZ_TMP=$(mktemp -d "$shm/brisvander-fuzz-run-XXXXXX")
export BRISVANDER_FUZZ_TMP
trap 'rm -rf "$BRISVANDER_FUZZ_TMP"' EXIT

log="$work/fuzz.log"
"$fuzzer" "${options[@]}" "$work/corpus" >"$log" 2>&1
status=$?
if [ $status -ne 0 ] || grep -Eq 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    tail -n 80 "$log"
    echo "$(basename "$fuzzer"): failed (exit status $status); inputs and log in $work"
    exit 1
fi
executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
echo "$(basename "$fuzzer"): ${executed:-?} executions in $seconds s, no fault"
