# File-list and directory-list modes on Windows paths: bars, blanks,
# CR-LF, a missing file, a directory line, a line climbing with "..",
# and the destination repeating each source path below its drive.
mkdir -p "$WORK/src/sub" "$WORK/work/c7/deep"
printf 'alpha' >"$WORK/src/a.txt"
printf 'bravo!' >"$WORK/src/sub/b.txt"
printf 'charlie' >"$WORK/work/c7/deep/c.txt"
below="${WORK#/}"  # the scratch path below the drive Z:
below_win=$(echo "$below" | tr '/' '\\')
{
    printf '%s\r\n' "$WORK_WIN\\src\\a.txt | seized 12:00"
    printf '%s\r\n' "$WORK_WIN\\src\\sub\\b.txt   "
    printf '%s\r\n' "$WORK_WIN\\src\\missing.txt"
    printf '%s\r\n' "$WORK_WIN\\src\\sub"
    # Climbs to the top of the drive and down again to a.txt: without
    # normalising, its copy would climb out of the destination onto the
    # source itself.
    printf '%s\r\n' "$WORK_WIN\\src\\sub\\..\\..\\..\\..\\..\\..\\..\\..\\$below_win\\src\\a.txt"
} >"$WORK/list.txt"

veldro -S "$WORK_WIN\\list.txt" -d "$WORK_WIN\\out" -m
expect_status 3  # a listed file that is not there ends the run as an input fault
expect_file "$WORK/out/$below/src/a.txt"
expect_same "$WORK/src/a.txt" "$WORK/out/$below/src/a.txt"
expect_same "$WORK/src/sub/b.txt" "$WORK/out/$below/src/sub/b.txt"
expect_out "missing.txt ==> NOT LOCATED"
expect_out "SOURCE IS DIRECTORY, NOT PROCESSED"
expect_err "3 of 5 files,"
[ "$(cat "$WORK/src/a.txt")" = alpha ] || fail "the source was changed"
[ "$(find "$WORK" -name a.txt ! -path "$WORK/out/*" | wc -l)" = 1 ] ||
    fail "a copy was written outside the destination"

printf '%s\r\n' "$WORK_WIN\\work\\c7 | second disk" "$WORK_WIN\\nowhere" >"$WORK/dirs.txt"
veldro "--dirs=$WORK_WIN\\dirs.txt" -d "$WORK_WIN\\out2"
expect_status 0
expect_same "$WORK/work/c7/deep/c.txt" "$WORK/out2/$below/work/c7/deep/c.txt"

# Flattening with duplicate renaming keeps both files of one name.
mkdir -p "$WORK/dup/one" "$WORK/dup/two"
printf 'first' >"$WORK/dup/one/a.txt"
printf 'second' >"$WORK/dup/two/a.txt"
veldro -p "$WORK_WIN\\dup" -d "$WORK_WIN\\flat" -m -i --FLAT --NODUPE
expect_status 0
expect_file "$WORK/flat/a.txt"
expect_file "$WORK/flat/a[0000].txt"
