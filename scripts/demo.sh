#!/usr/bin/env bash
# The main job on a fresh machine: builds the program and copies the sample
# evidence tree under examples/ with MD5 and SHA-256 proofs and a full set
# of logs, then shows what it left behind.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build veldro >/dev/null

out=${DEMO_OUT:-/tmp/veldro-demo}
rm -rf "$out"
mkdir -p "$out"

report="$out/logs/report.html"
echo "== veldro -p examples/case-042 -d $out/copy -m -1 $out/logs/RUN.LOG!255 -H $out/logs/HASH.TXT --SHA2 --SEAL --REPORT=$report"
set +e
./build/veldro -p examples/case-042 -d "$out/copy" -m -1 "$out/logs/RUN.LOG!255" -H "$out/logs/HASH.TXT" --SHA2 \
    --SEAL "--REPORT=$report" </dev/null
status=$?
set -e
echo
echo "== exit status: $status"
echo "== copies:"
(cd "$out/copy" && find . -type f | sort)
echo "== logs:"
ls -1 "$out/logs"
if [ -f "$out/logs/HASH.TXT" ]; then
    echo "== hash log:"
    cat "$out/logs/HASH.TXT"
fi
echo "== acquisition report: $report"
exit "$status"
