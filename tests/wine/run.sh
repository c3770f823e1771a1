#!/usr/bin/env bash
# Runs every smoke_*.sh case against the Windows program under wine.
# Usage: tests/wine/run.sh path/to/veldro.exe
# Each case gets VELDRO_EXE, a scratch directory WORK (a Linux path) and
# WORK_WIN (the same directory as wine shows it, Z:\...), and the helper
# functions below. A case exits 0 when it passes.
set -uo pipefail

exe=${1:?usage: run.sh veldro.exe}
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v wine >/dev/null 2>&1; then
    echo "wine smoke: wine is not installed" >&2
    exit 1
fi
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$(dirname "$exe")/wineprefix}
export VELDRO_EXE=$exe
# First start of a prefix sets it up; do it once, quietly.
wine cmd /c exit >/dev/null 2>&1 || true

pass=0
fail=0
for case_file in "$here"/smoke_*.sh; do
    [ -e "$case_file" ] || continue
    name=$(basename "$case_file" .sh)
    WORK=$(mktemp -d /tmp/veldro-wine.XXXXXX)
    export WORK
    WORK_WIN="Z:$(echo "$WORK" | tr '/' '\\')"
    export WORK_WIN
    if timeout 300 bash "$here/lib.sh" "$case_file" >"$WORK.log" 2>&1; then
        echo "  ok      $name"
        pass=$((pass + 1))
    elif rm -rf "$WORK" && mkdir -p "$WORK" && timeout 300 bash "$here/lib.sh" "$case_file" >"$WORK.retry.log" 2>&1; then
        # wine now and then loses a process's first output lines under load:
        # a case that passes when run again is shown with what failed first.
        echo "  ok      $name (on a second run; the first: $(grep -m1 '^FAIL:' "$WORK.log"))"
        pass=$((pass + 1))
    else
        echo "  FAILED  $name"
        grep -m1 '^FAIL:' "$WORK.log" | sed 's/^/      /'
        sed 's/^/      /' "$WORK.log" | tail -40
        fail=$((fail + 1))
    fi
    rm -f "$WORK.retry.log"
    rm -rf "$WORK" "$WORK.log"
done
echo "wine smoke: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
