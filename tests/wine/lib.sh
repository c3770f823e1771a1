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

# True for a status the program ends with; any other one is wine's own (or
# a crash of the program under wine).
program_status() {
    case "$1" in
        0 | 2 | 3 | 4 | 5 | 6 | 7 | 8 | 9 | 11 | 13) return 0 ;;
    esac
    return 1
}

fail() {
    echo "FAIL: $*"
    if [ -f "$WORK/status" ] && ! program_status "$(status)"; then
        echo "--- status $(status) is no status the program ends with: wine failed, or the program crashed under it"
    fi
    # Only the ends are shown: the sizes say how much came before them.
    echo "--- stdout ($(wc -c <"$WORK/out.txt" 2>/dev/null) bytes, the last 30 lines)"
    tr -d '\r' <"$WORK/out.txt" 2>/dev/null | tail -30
    echo "--- stderr ($(wc -c <"$WORK/err.txt" 2>/dev/null) bytes, the last 30 lines)"
    tr -d '\r' <"$WORK/err.txt" 2>/dev/null | tail -30
    exit 1
}

# Writes FILE with its CR-LF line ends read as LF to $WORK/lf.txt, where the
# checks read it. Through a file, never a pipe: a reader that stops at its
# first match (grep -q) ends a writer still feeding the pipe with SIGPIPE,
# and under pipefail the check then fails, or a negated one passes, whatever
# the text holds.
as_lf() { tr -d '\r' <"$1" >"$WORK/lf.txt" || fail "cannot read $1"; }

# True when FILE, read as LF, holds TEXT (a fixed string); any further
# arguments go to grep (-x, -e OTHER).
holds() {
    as_lf "$1"
    grep -qF "${@:3}" -e "$2" "$WORK/lf.txt"
}

expect_status() { [ "$(status)" = "$1" ] || fail "status $(status), expected $1"; }
expect_out() { holds "$WORK/out.txt" "$1" || fail "stdout lacks: $1"; }
expect_err() { holds "$WORK/err.txt" "$1" || fail "stderr lacks: $1"; }
expect_file() { [ -f "$1" ] || fail "missing file $1"; }
expect_same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }

# shellcheck disable=SC1090
source "$1"
