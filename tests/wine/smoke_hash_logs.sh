# A hashed copy with the whole log set on Windows paths: member names and
# headers, the hash log with its SHA column and companions, the verdicts,
# the unicode log, the run header and the abort marker.
mkdir -p "$WORK/src/sub"
printf 'first\n' >"$WORK/src/a.txt"
printf 'second\n' >"$WORK/src/sub/b.txt"
printf 'third\n' >"$WORK/src/sub/caf$(printf '\xc3\xa9').txt"

veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m -1 "$WORK_WIN\\LOGS\\RUN.LOG!255" \
    -H "$WORK_WIN\\LOGS\\HASH.TXT" --SHA2 --MILLI
expect_status 0
expect_out "Creating (log) directory:  $WORK_WIN\\LOGS"
expect_out "Opened files list $WORK_WIN\\LOGS\\RUN_LIST.LOG"
expect_out "Opened UNICODE names list $WORK_WIN\\LOGS\\RUN_UNICODE_FILES.LOG"
expect_out " Started "
expect_err "No apparent mismatches in the copied hashes"
[ "$(tr -d '\r' <"$WORK/out.txt" | grep -c ' \[OK\]')" = 3 ] || fail "three [OK] verdicts expected"

for member in RUN.LOG RUN_LIST.LOG RUN_COPIED.LOG RUN_NOT_COPIED.LOG RUN_ERROR.LOG RUN_DUPE_FILES.LOG \
    RUN_DIR-COUNTS.LOG RUN_UNICODE_FILES.LOG HASH.TXT HASH_ERROR.TXT HASH_RERUN.TXT; do
    expect_file "$WORK/LOGS/$member"
done
[ ! -e "$WORK/LOGS/RUN.LOGX" ] || fail "abort marker left after a normal run"
expect_same "$WORK/src/sub/caf$(printf '\xc3\xa9').txt" "$WORK/dst/sub/caf$(printf '\xc3\xa9').txt"

head -c 86 "$WORK/LOGS/RUN_LIST.LOG" | grep -qF "FILES PROCESSED | SIZE | CREATED DATE-TIME | MODIFIED DATE-TIME | ACCESSED DATE-TIME |" ||
    fail "list log header"
grep -qF "FILES SUCCESSFULLY COPIED SIZE | SOURCE | Filler | DESTINATION |" "$WORK/LOGS/RUN_COPIED.LOG" ||
    fail "copied log header"
grep -qF " Command line: " "$WORK/LOGS/RUN.LOG" || fail "run header in the default log"
[ "$(head -c 2 "$WORK/LOGS/RUN_UNICODE_FILES.LOG" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "unicode log BOM"
iconv -f UTF-16LE -t UTF-8 "$WORK/LOGS/RUN_UNICODE_FILES.LOG" >"$WORK/names.txt" || fail "unicode log not UTF-16LE"
grep -qF "caf$(printf '\xc3\xa9').txt" "$WORK/names.txt" ||
    fail "unicode log lacks the accented name"

sha_a=$(sha256sum "$WORK/src/a.txt" | cut -d' ' -f1 | tr a-f A-F)
md5_a=$(md5sum "$WORK/src/a.txt" | cut -d' ' -f1 | tr a-f A-F)
line="$WORK_WIN\\src\\a.txt  | $md5_a  | $sha_a |$WORK_WIN\\dst\\a.txt  | $md5_a  | $sha_a |[OK]"
grep -qF -- "$line" "$WORK/LOGS/HASH.TXT" || { cat "$WORK/LOGS/HASH.TXT"; fail "hash log line for a.txt"; }
grep -qF "caf$(printf '\xc3\xa9').txt  | " "$WORK/LOGS/HASH.TXT" || fail "hash log lacks the accented name"
tail -c 46 "$WORK/LOGS/HASH.TXT" | grep -qF "No apparent mismatches in the copied hashes" || fail "hash log ending"
[ ! -s "$WORK/LOGS/HASH_ERROR.TXT" ] || fail "_ERROR companion not empty"
[ ! -s "$WORK/LOGS/HASH_RERUN.TXT" ] || fail "_RERUN companion not empty"

# Source-only hashing: source lines only, no verdict.
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst2" -m "-hs=$WORK_WIN\\HS.TXT"
expect_status 0
grep -qF "$WORK_WIN\\src\\a.txt  | $md5_a " "$WORK/HS.TXT" || fail "source-only hash line"
! grep -qF "dst2" "$WORK/HS.TXT" || fail "destination in a source-only hash log"
! holds "$WORK/out.txt" "[OK]" || fail "verdict without both sides hashed"
