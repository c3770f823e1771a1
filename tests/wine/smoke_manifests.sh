# The manifests under Windows: a DFXML document with Windows names and
# 100-ns times, a known-hash set of the copies, the seal over the logs, and
# the acquisition report that shows the seal.
mkdir -p "$WORK/src/sub"
printf 'first\n' >"$WORK/src/a.txt"
printf 'second & <more>\n' >"$WORK/src/sub/b.txt"
printf 'third\n' >"$WORK/src/sub/caf$(printf '\xc3\xa9').txt"

veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m -1 "$WORK_WIN\\LOGS\\RUN.LOG!31" -H "$WORK_WIN\\LOGS\\HASH.TXT" \
    --SHA2 "--DFXML=$WORK_WIN\\LOGS\\RUN.XML" "--AUDITSET=$WORK_WIN\\LOGS\\KNOWN.TXT" --SEAL \
    "--REPORT=$WORK_WIN\\LOGS\\REPORT.HTML"
expect_status 0
expect_file "$WORK/LOGS/RUN.XML"
expect_file "$WORK/LOGS/KNOWN.TXT"

xml="$WORK/LOGS/RUN.XML"
if command -v xmllint >/dev/null; then
    xmllint --noout "$xml" || fail "DFXML not well-formed"
fi
tail -n 1 "$xml" | grep -qx '</dfxml>' || fail "DFXML not closed"
grep -qF "<filename>$WORK_WIN\\src\\a.txt</filename>" "$xml" || fail "DFXML lacks a.txt with its Windows name"
grep -qF "<filename>$WORK_WIN\\src\\sub\\b.txt</filename>" "$xml" || fail "DFXML lacks b.txt"
grep -qF "<os_sysname>Windows</os_sysname>" "$xml" || fail "DFXML execution environment"
grep -qE '<mtime>[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{7}Z</mtime>' "$xml" || fail "DFXML times in 100-ns"
md5_a=$(md5sum "$WORK/src/a.txt" | cut -d' ' -f1)
sha_a=$(sha256sum "$WORK/src/a.txt" | cut -d' ' -f1)
grep -qF "<hashdigest type=\"md5\">$md5_a</hashdigest>" "$xml" || fail "DFXML md5 of a.txt"
[ "$(grep -c '<veldro:verdict>verified</veldro:verdict>' "$xml")" = 3 ] || fail "three verified files expected"

known="$WORK/LOGS/KNOWN.TXT"
as_lf "$known"
head -n 2 "$WORK/lf.txt" | grep -qx '%%%% size,md5,sha256,filename' || fail "audit set header"
holds "$known" "$(stat -c %s "$WORK/src/a.txt"),$md5_a,$sha_a,.\\a.txt" -x || { cat "$known"; fail "audit set row of a.txt"; }

expect_file "$WORK/LOGS/RUN.LOG.sha256"
(cd "$WORK/LOGS" && sha256sum -c RUN.LOG.sha256 >/dev/null) || { cat "$WORK/LOGS/RUN.LOG.sha256"; fail "seal"; }
grep -qF '  RUN.XML' "$WORK/LOGS/RUN.LOG.sha256" || fail "seal lacks the manifest"

report="$WORK/LOGS/REPORT.HTML"
expect_file "$report"
tail -n 1 "$report" | grep -qx '</main></body></html>' || fail "report not finished"
grep -qF 'id="files-copied">3<' "$report" || fail "report: three files copied"
grep -qF 'id="copies-verified">3<' "$report" || fail "report: three copies verified"
grep -qF "<div class=\"mono\">$WORK_WIN\\src</div>" "$report" || fail "report: the source with its Windows name"
grep -qF "<td class=\"name\">RUN.XML</td><td class=\"mono\">$(sha256sum "$WORK/LOGS/RUN.XML" | cut -d' ' -f1)<" "$report" ||
    fail "report: the seal's digest of the manifest"
