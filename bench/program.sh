# Sourced by the benchmark scripts: sets `bin` to VELDRO_BIN, or builds the
# program (Release, without tests) in build-bench/ and names it.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bin=${VELDRO_BIN:-}
if [[ -z "$bin" ]]; then
    build=${VELDRO_BENCH_BUILD:-$root/build-bench}
    generator=()
    if command -v ninja >/dev/null 2>&1; then
        generator=(-G Ninja)
    fi
    cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DVELDRO_TESTS=OFF >/dev/null
    cmake --build "$build" --target veldro -j 2 >/dev/null
    bin=$build/veldro
fi
