#!/usr/bin/env bash
# Runs the end-to-end suite against the Windows program under wine, with
# one persistent wine server for the whole suite.
# Usage: tests/wine/e2e.sh path/to/veldro.exe [test_file.py...]
set -uo pipefail

exe=${1:?usage: e2e.sh veldro.exe [test files]}
shift
here=$(cd "$(dirname "$0")" && pwd)
# The tests run the program from directories of their own.
exe=$(realpath -- "$exe") || exit 1
top=$(cd "$here/../.." && pwd)
if ! command -v wine >/dev/null 2>&1; then
    echo "wine e2e: wine is not installed" >&2
    exit 1
fi
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$exe")" && pwd)/wineprefix}
export VELDRO_EXE=$exe
export VELDRO_BIN=$here/veldro-wine
export VELDRO_UNDER_WINE=1
export PYTHONDONTWRITEBYTECODE=1
# shellcheck source=tests/wine/server.sh
source "$here/server.sh"
trap stop_wine_server EXIT
start_wine_server "wine e2e" || exit 1

if [ $# -eq 0 ]; then
    set -- "$top"/tests/e2e/test_*.py
fi
python3 "$here/run_e2e.py" "${JOBS:-2}" "$@"
