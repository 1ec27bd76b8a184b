#!/usr/bin/env bash
# Runs every benchmark and writes the report (make bench): build/bench/report.md, summary.txt,
# results.csv, the raw samples and plots/*.png. Keys and stores under build/bench are made once
# and kept between runs. BENCH_BUILD, BENCH_JAVA and BENCH_OUT point it at another build tree.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BENCH_BUILD:-$root/build/native}")
jars=$(realpath -m "${BENCH_JAVA:-$root/build/java}")
out=$(realpath -m "${BENCH_OUT:-$root/build/bench}")
# Seconds of calls per kind in the memory phase; a kind slower than a million calls in that
# time gets fewer, and the report says so.
memory_seconds=${BENCH_MEMORY_SECONDS:-22}
started=$(date +%s)

tools="$build/benchmarks"
library="$build/libBrisvander.so"
limit="$tools/libbrisvander-openssl-limit.so"
classpath="$jars/brisvander.jar:$jars/brisvander-bench.jar"
for file in "$library" "$limit" "$tools/bench_fixtures" "$tools/store_walk_bench" \
        "$jars/brisvander.jar" "$jars/brisvander-bench.jar"; do
    if [ ! -e "$file" ]; then
        echo "run_bench: $file is missing; build the bench_all target" >&2
        exit 1
    fi
done

mkdir -p "$out/plots"
rm -f "$out"/*.csv "$out"/*.json "$out"/report.md "$out"/summary.txt "$out"/plots/*
rm -rf "$out/rsa-store"
mkdir -p "$out/rsa-store"

note_load() {
    printf '"load before %s","%s"\n' "$1" "$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/run.csv"
}
printf 'key,value\n"build","%s"\n"build tree","%s"\n' \
    "$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")" "$build" >"$out/run.csv"

# A phase that fails is named in the report, whose figures from it show as MISSING; the run
# goes on, and ends with a failure status after the report.
failed=()
phase() {
    local name=$1
    shift
    echo "== $name"
    note_load "$name"
    "$@" || failed+=("$name")
}

# The natives reach the stores as in a user's session: XDG_DATA_HOME, no BRISVANDER_HOME.
in_store() {
    (
        unset BRISVANDER_HOME
        export XDG_DATA_HOME="$1"
        shift
        "$@"
    )
}
# harness OPTIONS_ARRAY PHASE ARGS...: one phase in a JVM of its own.
harness() {
    local -n options=$1
    shift
    java "${options[@]}" -Dbrisvander.library="$library" -Dbrisvander.bench.limit="$limit" \
        -cp "$classpath" quorvant.jce.provider.ms.bench.BenchMain "$@"
}
timing_jvm=(-Xms512m -Xmx512m)
memory_jvm=(-Xms256m -Xmx256m -XX:+AlwaysPreTouch)
report_jvm=()

# How busy the machine is before anything of ours runs: the share of all cores not idle over
# one second. The load averages per phase count this run's own thread as about 1.
busy_share() {
    local a b
    read -r -a a < <(grep '^cpu ' /proc/stat)
    sleep 1
    read -r -a b < <(grep '^cpu ' /proc/stat)
    local total=0 idle i
    for i in 1 2 3 4 5 6 7 8; do
        total=$((total + b[i] - a[i]))
    done
    idle=$((b[4] - a[4] + b[5] - a[5]))
    echo $((total > 0 ? 100 * (total - idle) / total : 0))
}
busy=$(busy_share)
printf '"cores busy before the run","%s%% (one-second sample)"\n' "$busy" >>"$out/run.csv"
if [ "$busy" -gt 20 ]; then
    note="Other work kept $busy% of the cores busy just before the run began, so rates can be"
    note+=" noisier than on a quiet machine; the ratios, taken round by round, are less affected."
    printf '"load note","%s"\n' "$note" >>"$out/run.csv"
fi

echo "== fixtures"
note_load "fixtures"
"$tools/bench_fixtures" keys "$out/keys" 512 1024 2048 4096
for n in 10 100 1000 10000; do
    "$tools/bench_fixtures" store "$out/stores/$n" "$n" "$out/keys/rsa-2048.p8"
done
"$tools/bench_fixtures" store "$out/stores/memory-10" 10 "$out/keys/rsa-512.p8"

native_walks() {
    BRISVANDER_BENCH_STORES="$out/stores" in_store "$out/stores/10" "$tools/store_walk_bench" \
        --benchmark_min_time=0.2 --benchmark_format=csv \
        --benchmark_out="$out/store_walk.json" --benchmark_out_format=json >"$out/store_walk.csv"
}
phase "store walks, C++ level" native_walks
phase "RSA" in_store "$out/rsa-store" harness timing_jvm rsa "$out/keys" "$out" 7 80 250
for n in 10 100 1000 10000; do
    phase "walks of $n" in_store "$out/stores/$n" \
        harness timing_jvm walk "$out/keys" "$out" 5 100 200
done
phase "memory" in_store "$out/stores/memory-10" harness memory_jvm \
    memory "$out/keys" "$out" "$memory_seconds"

note_load "report"
printf '"measured in","%s s"\n' "$(($(date +%s) - started))" >>"$out/run.csv"
if [ ${#failed[@]} -gt 0 ]; then
    printf '"failed phases","%s"\n' "$(IFS=';'; echo "${failed[*]}")" >>"$out/run.csv"
fi
harness report_jvm report "$out"
echo "bench: $(($(date +%s) - started)) s; report in $out/report.md"
cat "$out/summary.txt"
if [ ${#failed[@]} -gt 0 ]; then
    echo "bench: failed phases: ${failed[*]}" >&2
    exit 1
fi
