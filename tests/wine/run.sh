#!/usr/bin/env bash
# Runs every smoke_*.sh case against the Windows program under wine.
# Usage: tests/wine/run.sh path/to/veldro.exe
# Each case gets VELDRO_EXE, a scratch directory WORK (a Linux path) and
# WORK_WIN (the same directory as wine shows it, Z:\...), and the helper
# functions of lib.sh. A case exits 0 when it passes; a case that fails is
# a failure, never run again to see whether it passes then.
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
# shellcheck source=tests/wine/server.sh
source "$here/server.sh"
trap stop_wine_server EXIT
start_wine_server "wine smoke" || exit 1

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
    else
        echo "  FAILED  $name"
        grep -m1 '^FAIL:' "$WORK.log" | sed 's/^/      /'
        sed 's/^/      /' "$WORK.log" | tail -40
        fail=$((fail + 1))
    fi
    rm -rf "$WORK" "$WORK.log"
done
echo "wine smoke: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
