#!/usr/bin/env bash
# Runs every fuzz target for a while and sums up what it did.
#
#   fuzz/run-all.sh SECONDS
#
# Builds the clang fuzz build (build-fuzz, configured when missing) and
# fuzzes each target for SECONDS from its seed corpus, which comes from the
# ordinary build's game data (build/fuzz/corpus, made with make-corpus.sh
# when missing). New inputs go to a work corpus per target; crashing inputs
# are kept in the crash folder named at the start. Prints one line per
# target and last "targets=N execs=E crashes=C"; exits nonzero when any
# target crashed.
#
# Environment: KESSRIG_FUZZ_BUILD (default build-fuzz), KESSRIG_DATA_BUILD
# (default build), KESSRIG_FUZZ_OUT (default /tmp/kessrig-fuzz-run),
# KESSRIG_FUZZ_JOBS (targets at once, default 1; the build uses at most 2
# cores), KESSRIG_FUZZ_TARGETS (a space-separated subset).
set -uo pipefail

if [ $# -ne 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
    echo "usage: $0 SECONDS" >&2
    exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
fuzz_build=${KESSRIG_FUZZ_BUILD:-$root/build-fuzz}
data_build=${KESSRIG_DATA_BUILD:-$root/build}
out=${KESSRIG_FUZZ_OUT:-/tmp/kessrig-fuzz-run}
jobs=${KESSRIG_FUZZ_JOBS:-1}

targets=${KESSRIG_FUZZ_TARGETS:-$(sed -n 's/^kessrig_add_fuzzer(\([a-z_0-9]*\) .*/\1/p' "$root/fuzz/CMakeLists.txt")}

if [ ! -f "$fuzz_build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESSRIG_FUZZ=ON \
        -DKESSRIG_GAME=OFF -DKESSRIG_TESTS=OFF -DKESSRIG_BENCH=OFF -DKESSRIG_WERROR=ON > /dev/null || exit 1
fi
# shellcheck disable=SC2086
cmake --build "$fuzz_build" -j2 --target $targets > "$out.build.log" 2>&1 ||
    { tail -40 "$out.build.log" >&2; echo "run-all.sh: the fuzz build failed" >&2; exit 1; }

seeds=$data_build/fuzz/corpus
if [ ! -f "$seeds/.complete" ]; then
    cmake --build "$data_build" -j2 --target kessrig_data kessrig_fuzz_seeds kessrig-sim > /dev/null || exit 1
    "$root/fuzz/make-corpus.sh" "$data_build" "$seeds" || exit 1
fi

crashes_dir=$out/crashes
mkdir -p "$crashes_dir" "$out/work" "$out/logs"
echo "run-all.sh: $seconds s a target; crashing inputs go to $crashes_dir"

# Targets that read the game data (tracks for the server, pictures named by
# animations) find the ordinary build's.
export KZ_HOME=$data_build/bin
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0}

run_one() {
    local t=$1
    mkdir -p "$out/work/$t"
    rm -f "$crashes_dir/$t-"*
    local seed_dir=$seeds/$t
    [ -d "$seed_dir" ] || seed_dir=
    # shellcheck disable=SC2086
    "$fuzz_build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$crashes_dir/$t-" "$out/work/$t" $seed_dir > "$out/logs/$t.log" 2>&1
}

report_one() {
    local t=$1 log=$out/logs/$t.log
    local execs rate cov ft crashes
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    # Crashes, leaks, timeouts and running out of memory; libFuzzer's
    # slow-unit notes are not failures.
    crashes=$(find "$crashes_dir" -maxdepth 1 \( -name "$t-crash-*" -o -name "$t-leak-*" -o -name "$t-timeout-*" \
        -o -name "$t-oom-*" \) | wc -l)
    echo "$t execs=${execs:-0} exec_per_s=${rate:-0} cov=${cov:-0} ft=${ft:-0} crashes=$crashes"
}

running=0
for t in $targets; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

total_targets=0 total_execs=0 total_crashes=0
for t in $targets; do
    line=$(report_one "$t")
    echo "$line"
    total_targets=$((total_targets + 1))
    total_execs=$((total_execs + $(echo "$line" | sed 's/.* execs=\([0-9]*\).*/\1/')))
    total_crashes=$((total_crashes + $(echo "$line" | sed 's/.* crashes=\([0-9]*\).*/\1/')))
done
echo "targets=$total_targets execs=$total_execs crashes=$total_crashes"
[ "$total_crashes" -eq 0 ]
