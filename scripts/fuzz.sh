#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, ASan, UBSan)
# in build-fuzz/ and runs each for SECONDS seconds (default 20), two at a
# time. New inputs go to build-fuzz/corpus/<target>; the committed seeds in
# tests/fuzz/corpus/<target> are only read. A crash leaves its input as
# build-fuzz/crash-<target>-*. Exits non-zero when a target failed.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-20}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(command_line long_option ini lists wildcard values text paths escape records digests)
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELDRO_FUZZ=ON -DVELDRO_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && ninja -C build-fuzz -j "${JOBS:-2}" fuzz_targets || exit 1

run_one() {  # target
    # Absolute paths: the targets that read files work in a scratch
    # directory of their own.
    local t=$1 out=$top/build-fuzz/fuzz-$1.log
    mkdir -p "$top/build-fuzz/corpus/$t"
    # Standard input and output go nowhere; libFuzzer keeps its own report.
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$top/build-fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$top/build-fuzz/crash-$t-" \
        "$top/build-fuzz/corpus/$t" "$top/tests/fuzz/corpus/$t" </dev/null >"$out" 2>&1
    local status=$?
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out")
    if [ $status -eq 0 ]; then
        echo "  fuzz_$t: ${runs:-?} executions, no finding"
    else
        echo "  fuzz_$t: FAILED (status $status) after ${runs:-?} executions; see $out"
        grep -m 20 -E 'ERROR|SUMMARY|runtime error|deadly signal' "$out" | sed 's/^/    /'
    fi
    return $status
}

failed=0
pids=()
names=()
for t in "${targets[@]}"; do
    run_one "$t" >"build-fuzz/fuzz-$t.result" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -eq 2 ]; then
        for i in 0 1; do
            wait "${pids[$i]}" || failed=1
            cat "build-fuzz/fuzz-${names[$i]}.result"
        done
        pids=()
        names=()
    fi
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || failed=1
    cat "build-fuzz/fuzz-${names[$i]}.result"
done
exit $failed
