#!/usr/bin/env bash
# The wine server a suite runs the program on, sourced by run.sh and e2e.sh.
# It is started persistent, so that it and Windows' own processes stay up
# from one program to the next. Otherwise each program's end shuts them
# down and the next program starts them again: seconds each time, and a
# program that starts while they shut down races that shutdown.

# Sets up WINEPREFIX (the first start of a prefix does), starts its
# persistent server and Windows' own processes, whose messages go to
# VELDRO_WINE_SERVER_LOG; says what wine said and returns non-zero when
# that fails. $1 names the suite in the messages.
start_wine_server() {
    local status=0 attempt
    export VELDRO_WINE_SERVER_LOG=$WINEPREFIX.server.log
    : >"$VELDRO_WINE_SERVER_LOG"
    # Not to a pipe: Windows' own processes hold the stderr of the program
    # that started them for as long as they run.
    if ! wine cmd /c exit </dev/null >/dev/null 2>>"$VELDRO_WINE_SERVER_LOG"; then
        echo "$1: wine cannot start in $WINEPREFIX; wine said:" >&2
        cat "$VELDRO_WINE_SERVER_LOG" >&2
        return 1
    fi
    # The server that set the prefix up lingers a moment after its last
    # program and holds the prefix meanwhile (a persistent one asked for
    # then ends at once with status 2); so does one a killed suite left.
    for attempt in 1 2 3; do
        wineserver -k >/dev/null 2>&1
        wineserver -w
        if wineserver -p </dev/null >/dev/null 2>>"$VELDRO_WINE_SERVER_LOG"; then
            # Windows' own processes start now, with this log for their stderr.
            wine cmd /c exit </dev/null >/dev/null 2>>"$VELDRO_WINE_SERVER_LOG"
            return 0
        fi
        status=$?
    done
    echo "$1: the persistent wine server of $WINEPREFIX did not start (status $status, $attempt attempts)" >&2
    cat "$VELDRO_WINE_SERVER_LOG" >&2
    return 1
}

stop_wine_server() {
    wineserver -k >/dev/null 2>&1 || true
}
