#!/usr/bin/env bash
# Builds the program (Release) and runs the verified-copy benchmark against
# cp -a + md5sum, the hashdeep pipeline and rsync -a + rsync -ac (see
# verified_copy.py). Arguments go to verified_copy.py, e.g.
# `bench/verified_copy.sh --rounds 1 --large-mib 256` for a shorter run.
# VELDRO_BIN names an already built program and skips the build.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
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
exec python3 "$here/verified_copy.py" "$bin" "$@"
