#!/usr/bin/env bash
# Helpers for the wine smoke cases; sources the case named by $1.
set -euo pipefail

# Runs the Windows program; its output goes to $WORK/out.txt and $WORK/err.txt
# and its status to $WORK/status.
veldro() {
    set +e
    wine "$VELDRO_EXE" "$@" </dev/null >"$WORK/out.txt" 2>"$WORK/err.txt"
    echo $? >"$WORK/status"
    set -e
}

status() { cat "$WORK/status"; }

fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$WORK/out.txt" 2>/dev/null | tr -d '\r' | tail -30
    echo "--- stderr"; cat "$WORK/err.txt" 2>/dev/null | tr -d '\r' | tail -30
    exit 1
}

expect_status() { [ "$(status)" = "$1" ] || fail "status $(status), expected $1"; }
expect_out() { tr -d '\r' <"$WORK/out.txt" | grep -qF -- "$1" || fail "stdout lacks: $1"; }
expect_err() { tr -d '\r' <"$WORK/err.txt" | grep -qF -- "$1" || fail "stderr lacks: $1"; }
expect_file() { [ -f "$1" ] || fail "missing file $1"; }
expect_same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }

# shellcheck disable=SC1090
source "$1"
