#!/usr/bin/env bash
# Runs every check: formatting, the unit and end-to-end suites, the same
# suites under AddressSanitizer + UBSan, the thread pool and copy tests under
# ThreadSanitizer, the Windows build with its smoke
# suite and the end-to-end suite under wine, and clang-tidy. Exits non-zero
# when anything fails.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=${JOBS:-2}
failed=()
passed=()

step() { echo; echo "=== $* ==="; }
record() {  # name, status
    if [ "$2" -eq 0 ]; then passed+=("$1"); else failed+=("$1"); fi
}

step "dependencies"
bash scripts/install-deps.sh || { echo "dependencies missing"; exit 1; }

sources=$(git ls-files '*.cpp' '*.h' 2>/dev/null)
[ -n "$sources" ] || sources=$(find src tests bench -name '*.cpp' -o -name '*.h')

step "format"
# shellcheck disable=SC2086
clang-format --dry-run --Werror $sources
record format $?

step "build (release)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null && ninja -C build -j "$jobs"
build_ok=$?
record build $build_ok
if [ $build_ok -eq 0 ]; then
    step "unit and end-to-end tests"
    bash scripts/install-deps.sh --browser ||
        echo "chromium could not be installed: the acquisition report's browser test will be skipped"
    (cd build && ctest --output-on-failure -j "$jobs")
    record tests $?

    step "package: .deb installed into a temporary root, man page"
    bash scripts/check-package.sh build
    record package $?
fi

step "build (sanitizers)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELDRO_SANITIZE=ON >/dev/null && ninja -C build-asan -j "$jobs"
asan_ok=$?
record sanitizer-build $asan_ok
if [ $asan_ok -eq 0 ]; then
    step "unit and end-to-end tests under sanitizers"
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j "$jobs")
    record sanitizer-tests $?
fi

step "build (ThreadSanitizer)"
# Only the program and the pool's tests: the copy tests below run the program.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELDRO_TSAN=ON >/dev/null &&
    ninja -C build-tsan -j "$jobs" veldro veldro_thread_tests
tsan_ok=$?
record tsan-build $tsan_ok
if [ $tsan_ok -eq 0 ]; then
    step "thread pool and copy tests under ThreadSanitizer"
    (export TSAN_OPTIONS=halt_on_error=1 VELDRO_BIN="$top/build-tsan/veldro" PYTHONDONTWRITEBYTECODE=1 &&
        build-tsan/veldro_thread_tests &&
        cd tests/e2e && python3 -m unittest test_copy_tree test_copy_criteria test_dupes test_hash_verify test_list_mode test_threads)
    record tsan-tests $?
fi

step "fuzz targets under ASan + UBSan, ${FUZZ_SECONDS:-20} s each"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
record fuzz $?

step "Windows build (mingw-w64)"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    ninja -C build-win -j "$jobs" veldro
win_ok=$?
record windows-build $win_ok
if [ $win_ok -eq 0 ]; then
    # A thread-local object with a destructor crashes a worker thread as it
    # ends on Windows (its storage is freed first): what a thread keeps goes
    # through platform::ThreadOwned, and no such destructor is registered.
    # The symbols go to a file first: grep -q leaving a pipe early would
    # fail nm under pipefail, and the negation would then pass.
    x86_64-w64-mingw32-nm build-win/veldro.exe >build-win/symbols.txt &&
        ! grep -q ' __cxa_thread_atexit$' build-win/symbols.txt
    record windows-thread-exit $?
fi
if [ $win_ok -eq 0 ]; then
    step "Windows smoke suite under wine"
    bash tests/wine/run.sh "$top/build-win/veldro.exe"
    record wine-smoke $?

    step "Windows zip"
    rm -f build-win/veldro-*.zip
    (cd build-win && cpack -G ZIP >/dev/null) &&
        python3 -c 'import sys, zipfile; names = set(zipfile.ZipFile(sys.argv[1]).namelist()); sys.exit(not {"veldro.exe", "README.md"} <= names)' build-win/veldro-*.zip
    record windows-zip $?

    step "end-to-end suite against the Windows build under wine"
    JOBS=$jobs bash tests/wine/e2e.sh "$top/build-win/veldro.exe"
    record wine-e2e $?
fi

step "clang-tidy"
tidy_files=$(git ls-files 'src/*.cpp' | grep -v '/win32/')
# shellcheck disable=SC2086
printf '%s\n' $tidy_files | xargs -P "$jobs" -n 4 clang-tidy -p build --quiet 2>/dev/null | grep -E 'warning:|error:' 
if [ "${PIPESTATUS[1]}" -eq 0 ]; then record clang-tidy 0; else record clang-tidy 1; fi

echo
echo "=== summary ==="
for p in "${passed[@]}"; do echo "  ok      $p"; done
for f in "${failed[@]}"; do echo "  FAILED  $f"; done
echo "${#passed[@]} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
