# A source another program holds open for writing is still read (after the
# first, stricter open is refused), copied and hashed; one that nobody else
# may open is reported and counted, never passed over in silence.
command -v x86_64-w64-mingw32-gcc >/dev/null || { echo "no mingw-w64 compiler: case not run"; exit 0; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
x86_64-w64-mingw32-gcc -municode -O1 -o "$WORK/hold_open.exe" "$here/support/hold_open.c"
mkdir -p "$WORK/src"
printf 'still being written' >"$WORK/src/busy.log"

hold() {  # mode: shared or alone
    rm -f "$WORK/hold.txt"
    wine "$WORK/hold_open.exe" "$WORK_WIN\\src\\busy.log" 20 "$1" >"$WORK/hold.txt" 2>/dev/null &
    holder=$!
    for _ in $(seq 1 100); do
        grep -q held "$WORK/hold.txt" 2>/dev/null && break
        sleep 0.1
    done
    grep -q held "$WORK/hold.txt" || fail "the holder could not open the file"
}
release() {
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
}

hold shared
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m -H "$WORK_WIN\\hash.txt"
release
expect_status 0
expect_same "$WORK/src/busy.log" "$WORK/dst/busy.log"
expect_out "[OK]"

hold alone
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\parent" -m --ADSPARENT
release
expect_status 9
expect_out "NOT COPIED (error)"
