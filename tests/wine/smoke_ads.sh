# The stream modes on Windows paths. Wine refuses backup reads altogether,
# so every file has no named streams: the file is copied and hashed with
# --ADSEXTRACT, passed over with --ADSPARENT and --ADSCHILD, and no read
# error question holds the run up.
mkdir -p "$WORK/src/sub"
printf 'evidence\n' >"$WORK/src/sub/report.doc"

veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m --ADSEXTRACT -H "$WORK_WIN\\hash.txt"
expect_status 0
expect_file "$WORK/dst/sub/report.doc"
expect_same "$WORK/src/sub/report.doc" "$WORK/dst/sub/report.doc"
expect_out "Copied ADS         0 files copied/extracted"
expect_out "[OK]"
holds "$WORK/out.txt" "Alt Data Stream Read error" && fail "read error question shown"
[ -z "$(find "$WORK/dst" -name '*\[*')" ] || fail "a stream file was written"

veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\parent" -m --ADSPARENT
expect_status 0
[ -z "$(find "$WORK/parent" -type f)" ] || fail "--ADSPARENT copied a file without streams"

veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\child" -m --adschild
expect_status 0
[ -z "$(find "$WORK/child" -type f)" ] || fail "--ADSCHILD wrote a file for a file without streams"
