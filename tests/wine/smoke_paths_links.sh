# Drive roots, device paths, links and reparse points, long names only,
# and local times under the zone rules of the instant.

# A bare-drive destination names the drive's root folder, not the volume.
mkdir -p "$WORK/src/sub" "$WORK/drive"
printf 'root file' >"$WORK/src/top.txt"
printf 'below' >"$WORK/src/sub/b.txt"
ln -sfn "$WORK/drive" "$WINEPREFIX/dosdevices/y:"
veldro -p "$WORK_WIN\\src" -d "Y:" -m
expect_status 0
expect_same "$WORK/src/top.txt" "$WORK/drive/top.txt"
expect_same "$WORK/src/sub/b.txt" "$WORK/drive/sub/b.txt"
veldro -p "$WORK_WIN\\src" -d 'Y:\' -m -i
expect_status 0
rm -f "$WINEPREFIX/dosdevices/y:"

# A device path is kept whole; a root that cannot be listed is an error.
veldro --SHADOW_COPY -p '\\?\GLOBALROOT\Device\NoSuchShadowCopy\data' -d "$WORK_WIN\\shadow" -m
[ "$(status)" != 0 ] || fail "an unreadable root ended the run 0"
expect_out "GLOBALROOT\\Device\\NoSuchShadowCopy\\data | DIRECTORY NOT READ"

# A directory link in the source is never followed and is logged as not
# copied; a link standing in the destination chain is never written through.
mkdir -p "$WORK/outside"
printf 'outside' >"$WORK/outside/secret.txt"
ln -s "$WORK/outside" "$WORK/src/linked"
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m -1 "$WORK_WIN\\logs\\RUN.LOG!15"
[ ! -e "$WORK/dst/linked/secret.txt" ] || fail "a directory link was followed"
holds "$WORK/logs/RUN_NOT_COPIED.LOG" "linked| reason: NOT A REGULAR FILE" || fail "link not logged"
rm "$WORK/src/linked"
mkdir -p "$WORK/dst2" "$WORK/elsewhere"
ln -s "$WORK/elsewhere" "$WORK/dst2/sub"
veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst2" -m
[ -z "$(ls -A "$WORK/elsewhere")" ] || fail "written through a link in the destination chain"
expect_out "NOT COPIED (error)"

# A pattern selects long names only, never a short 8.3 form.
mkdir -p "$WORK/pat"
printf 'x' >"$WORK/pat/report.docx"
printf 'y' >"$WORK/pat/memo.doc"
veldro -p "$WORK_WIN\\pat" -d "$WORK_WIN\\patdst" -m -f "*.doc"
expect_status 0
expect_file "$WORK/patdst/memo.doc"
[ ! -e "$WORK/patdst/report.docx" ] || fail "*.doc selected report.docx"

# Times are shown with the offset in force at their own instant.
mkdir -p "$WORK/tz"
printf 's' >"$WORK/tz/summer.txt"
printf 'w' >"$WORK/tz/winter.txt"
touch -d '2021-03-15 10:20:30 UTC' "$WORK/tz/summer.txt"
touch -d '2021-01-15 10:20:30 UTC' "$WORK/tz/winter.txt"
TZ=EST5EDT veldro -p "$WORK_WIN\\tz" -d "$WORK_WIN\\tzdst" -m
expect_out "2021/03/15 | 06:20:30"
expect_out "2021/01/15 | 05:20:30"
