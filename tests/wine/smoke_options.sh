# Options on Windows: '/' begins an option, positional source and
# destination, -D with a drive, long options and the INI file beside the
# program.
mkdir -p "$WORK/src/sub"
printf 'alpha' >"$WORK/src/a.txt"
printf 'bravo' >"$WORK/src/sub/b.doc"

# Positional source and destination, options written with '/'.
veldro "$WORK_WIN\\src" "$WORK_WIN\\dst" /d "$WORK_WIN\\dst" /m /i
expect_status 0
expect_same "$WORK/src/a.txt" "$WORK/dst/a.txt"
expect_same "$WORK/src/sub/b.doc" "$WORK/dst/sub/b.doc"

# /f takes patterns up to the next argument that begins an option.
rm -rf "$WORK/dst"
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m -i /f "*.doc" /A
expect_status 0
[ ! -e "$WORK/dst/a.txt" ] || fail "-f let a.txt through"
expect_file "$WORK/dst/sub/b.doc"

# -D needs its ':'; with it the source path is repeated below the drive.
veldro -p "$WORK_WIN\\src" -D C
expect_status 6
expect_err "You used a -D option and forgot to include the ':' after the destination drive"
veldro -p "$WORK_WIN\\src" -D C: -i -N
expect_status 0
expect_out "==>   C:$(echo "$WORK" | tr '/' '\\')\\src\\a.txt"

# A long option with a bad value.
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" --HASH=x
expect_status 6
expect_out "Illegal option: HASH=x"

# The INI file beside the program gives the paths; the command line adds -A.
mkdir -p "$WORK/bin"
cp "$VELDRO_EXE" "$WORK/bin/veldro.exe"
printf 'PATH=%s\\src\r\nDEST=%s\\ini_dst\r\nMAKE=1\r\nIMMED=ON' "$WORK_WIN" "$WORK_WIN" >"$WORK/bin/veldro.ini"
VELDRO_EXE="$WORK/bin/veldro.exe" veldro -A
expect_status 0
expect_err "INI PROCESSED"
expect_same "$WORK/src/a.txt" "$WORK/ini_dst/a.txt"
