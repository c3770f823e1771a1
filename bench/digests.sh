#!/usr/bin/env bash
# Builds the digest benchmark and runs it: each digest kind in memory and on
# a cached file, against `openssl speed -evp` and the coreutils *sum tools,
# printed as ratios. Arguments go to the benchmark (see digests_bench.cpp),
# e.g. `bench/digests.sh --size-mib 256 --rounds 2` for a shorter run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${VELDRO_BENCH_BUILD:-$root/build-bench}

generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi
for tool in openssl md5sum sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || echo "note: $tool not found; its column stays empty" >&2
done

cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DVELDRO_BENCH=ON -DVELDRO_TESTS=OFF >/dev/null
cmake --build "$build" --target veldro_bench_digests -j 2 >/dev/null
exec "$build/bench/veldro_bench_digests" "$@"
