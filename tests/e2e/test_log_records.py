"""What the logs and the summary say about each file: names that could forge
or blur a line are escaped, only verified copies are listed as copied, the
counts agree with the logs, a growing source is copied to the size it had
when opened, and holes in sparse files stay holes."""

import hashlib
import os
import re
import shutil
import unittest

from veldro_e2e import TreeCase, clean_env, preload_library, run, skip_under_wine

FORGING_NAMES = {
    b"a\nFORGED LINE [OK]": "a\\nFORGED LINE [OK]",
    b"x | 0123456789ABCDEF0123456789ABCDEF |[OK]": "x \\x7C 0123456789ABCDEF0123456789ABCDEF \\x7C[OK]",
    b"n\xff": "n\\xFF",
    b"n\xfe": "n\\xFE",
    b"n\xef\xbf\xbd": "n\ufffd",
    b"back\\slash\t": "back\\\\slash\\t",
}


class RecordCase(TreeCase):
    def copy(self, *extra):
        return run(["-p", "SRC", "-d", "DST", "-m"] + list(extra), cwd=self.tmp, env=clean_env(TZ="UTC0"))

    def text_of(self, rel, encoding="utf-8"):
        return self.read(rel).decode(encoding, "surrogateescape")


class EscapedNames(RecordCase):
    def test_names_cannot_forge_or_blur_log_lines(self):
        skip_under_wine("Windows names cannot hold line ends, bars or bytes that are not UTF-8")
        os.makedirs(self.path("SRC"))
        for raw in FORGING_NAMES:
            with open(os.path.join(os.fsencode(self.path("SRC")), raw), "wb") as f:
                f.write(b"evidence")
        r = self.copy("-1", "RUN.LOG!255", "-H", "HASH.TXT", f"--UNICODE={self.path('U.TXT')}")
        self.assertStatus(r, 0)
        src = self.path("SRC") + "/"
        dst = self.path("DST") + "/"
        for raw in FORGING_NAMES:  # the copies carry the names as they are
            self.assertTrue(os.path.exists(os.path.join(os.fsencode(self.path("DST")), raw)), raw)
        outputs = {
            "console": r.stdout,
            "hash log": self.text_of("HASH.TXT"),
            "copied log": self.text_of("RUN_COPIED.LOG"),
            "list log": self.text_of("RUN_LIST.LOG"),
            "unicode log": self.text_of("RUN_UNICODE_FILES.LOG", "utf-16-le"),
            "--UNICODE file": self.text_of("U.TXT", "utf-16-le"),
        }
        for what, text in outputs.items():
            self.assertNotIn("\nFORGED", text, what)
            self.assertNotIn("\udcff", text, what)
            for shown in FORGING_NAMES.values():  # the console cuts its source column, the list log has no copy
                self.assertTrue(what == "list log" or dst + shown in text, what)
                self.assertTrue(what == "console" or src + shown in text, what)
        # One hash-log line per file, each with exactly the bars of its fields.
        lines = [line for line in outputs["hash log"].split("\n") if line.startswith(src)]
        self.assertEqual(len(lines), len(FORGING_NAMES))
        for line in lines:
            self.assertRegex(line, r"^[^|]+  \| [0-9A-F]{32} \|" + re.escape(dst) + r"[^|]+  \| [0-9A-F]{32} \|\[OK\]$")
        copied = [line for line in outputs["copied log"].split("\n")[1:] if line]
        self.assertEqual(len(copied), len(FORGING_NAMES))
        self.assertTrue(all(line.count("|") == 11 for line in copied), copied)


def md5(data):
    return hashlib.md5(data).hexdigest().upper()


class CopiedLogAndCounts(RecordCase):
    def test_only_verified_copies_are_listed_and_counted(self):
        self.write("SRC/good.txt", b"good")
        self.write("SRC/blocked.txt", b"blocked!")     # its destination is a directory
        self.write("SRC/sub/unmade.txt", b"unmade")    # its directory cannot be made
        self.write("SRC/spoiled.txt", b"spoiled")      # its copy differs from it
        os.makedirs(self.path("DST/blocked.txt"))
        self.write("DST/sub", b"a file where a directory should be")
        env = preloaded_env("corrupt_after_copy.c", "corrupting", VELDRO_TEST_CORRUPT_NAME="spoiled.txt")
        r = run(["-p", "SRC", "-d", "DST", "-m", "-A", "-1", "RUN.LOG!12", "-H", "HASH.TXT", "-E", "ERR.LOG"],
                cwd=self.tmp, env=env)
        self.assertStatus(r, 9)
        copied = self.text_of("RUN_COPIED.LOG").rstrip("\n").split("\n")
        self.assertEqual(len(copied), 2, copied)  # the header and one line: no blank or digest-only lines
        self.assertIn("/SRC/good.txt|", copied[1])
        self.assertTrue(copied[1].endswith("|" + md5(b"good") + "|"), copied[1])
        not_copied = self.text_of("RUN_NOT_COPIED.LOG")
        for name in ("blocked.txt", "unmade.txt", "spoiled.txt"):
            self.assertIn(name, not_copied)
        self.assertIn("spoiled.txt| reason: HASH ERROR: COPY NOT VERIFIED", not_copied)
        self.assertIn("Copied             1 files,            4 bytes", r.stdout)
        self.assertIn(" Copied            1 files,            4 bytes", self.text_of("RUN.LOG"))
        self.assertIn("Copied 4 bytes in 1 files", self.text_of("ERR.LOG"))
        hashes = self.text_of("HASH.TXT")
        # A copy that could not be made is no digest mismatch.
        self.assertIn("/DST/sub/unmade.txt  | ---- ERROR - FILE NOT FOUND ---- |[NOT COPIED]", hashes)
        self.assertIn("AT LEAST 1 HASHES DIDN'T MATCH", hashes)

        # The same from a file list.
        self.write("LIST.TXT", self.path("SRC/good.txt") + "\n" + self.path("SRC/spoiled.txt") + "\n")
        r = run(["-S", "LIST.TXT", "-d", "LISTED", "-m", "-1", "L.LOG!12", "-H", "LHASH.TXT"], cwd=self.tmp, env=env)
        self.assertStatus(r, 9)
        self.assertIn("good.txt", self.text_of("L_COPIED.LOG"))
        self.assertNotIn("spoiled.txt", self.text_of("L_COPIED.LOG"))
        self.assertIn("spoiled.txt| NOT COPIED: Reason: HASH ERROR, COPY NOT VERIFIED", self.text_of("L_NOT_COPIED.LOG"))


def preloaded_env(library, purpose, **extra):
    asan = os.environ.get("ASAN_OPTIONS", "")
    return clean_env(TZ="UTC0", LD_PRELOAD=preload_library(library, purpose),
                     # A sanitizer build must accept a library loaded before its runtime.
                     ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0", **extra)


class GrowingSource(RecordCase):
    def test_copy_stops_at_the_size_the_source_had_when_opened(self):
        start = os.urandom(100_000)
        self.write("SRC/growing.log", start)
        r = run(["-p", "SRC", "-d", "DST", "-m", "-1", "RUN.LOG!4", "-H", "HASH.TXT"], cwd=self.tmp,
                env=preloaded_env("grow_while_read.c", "growing", VELDRO_TEST_GROW_NAME="SRC/growing.log"))
        self.assertGreater(os.path.getsize(self.path("SRC/growing.log")), len(start))
        self.assertEqual(self.read("DST/growing.log"), start)
        # The source's digest is of more than was copied: the change shows.
        self.assertIn("[HASH ERROR]", r.stdout)
        self.assertIn("Source changed while it was copied: " + self.path("SRC/growing.log"), r.stdout)
        self.assertIn("---- ERROR - SOURCE CHANGED ---- |", self.text_of("HASH_ERROR.TXT"))
        self.assertNotIn("growing.log", self.text_of("RUN_COPIED.LOG"))
        self.assertStatus(r, 9)
        self.assertIn("Reason: WRITE_ERROR (a source changed while it was copied)", r.stdout)

    def test_a_source_that_settles_is_copied_again_and_verified(self):
        self.write("SRC/growing.log", os.urandom(100_000))
        r = run(["-p", "SRC", "-d", "DST", "-m", "-H", "HASH.TXT", "--RET=2"], cwd=self.tmp,
                env=preloaded_env("grow_while_read.c", "growing", VELDRO_TEST_GROW_NAME="SRC/growing.log",
                                  VELDRO_TEST_GROW_TIMES="1"))
        self.assertIn("Source changed while it was copied", r.stdout)
        self.assertIn("Retry #1", r.stdout)
        self.assertIn("[OK]", r.stdout)
        self.assertEqual(self.read("DST/growing.log"), self.read("SRC/growing.log"))
        self.assertStatus(r, 0)


class PseudoFile(TreeCase):
    def test_a_file_that_reports_no_size_is_read_to_its_end(self):
        skip_under_wine("procfs is Linux's")
        with open("/proc/sys/kernel/ostype", "rb") as f:
            held = f.read()
        r = run(["-p", "/proc/sys/kernel/ostype", "-d", self.path("DST"), "-m", "-r", "-H", self.path("HASH.TXT"),
                 "-1", self.path("RUN.LOG") + "!4"])
        self.assertStatus(r, 0)
        self.assertEqual(self.read("DST/ostype"), held)
        digest = hashlib.md5(held).hexdigest().upper()
        self.assertEqual(self.read("HASH.TXT").decode().count(f"| {digest} |"), 2)
        self.assertIn(f"Size reported 0, read {len(held)}: /proc/sys/kernel/ostype", r.stdout)
        self.assertIn(f"{len(held):>14} |/proc/sys/kernel/ostype|", self.read("RUN_COPIED.LOG").decode())


class ChangedOrFailedOnce(RecordCase):
    def test_a_copy_that_fails_once_and_is_made_by_a_retry_is_copied(self):
        data = os.urandom(100_000)
        self.write("SRC/a.bin", data)
        xml = self.path("RUN.XML")
        # Both ways of the first copy fail as they publish it; the retry's does not.
        r = run(["-p", "SRC", "-d", "DST", "-m", "-1", "RUN.LOG!12", "-H", "HASH.TXT", "--RET=2", "-E", "ERR.LOG",
                 "--DFXML=" + xml], cwd=self.tmp,
                env=preloaded_env("fail_publish.c", "publish-failing", VELDRO_TEST_FAIL_PUBLISH_NAME="a.bin"))
        self.assertStatus(r, 0)
        self.assertEqual(self.read("DST/a.bin"), data)
        self.assertIn("Retry #1", r.stdout)
        self.assertIn("[OK]", r.stdout)
        self.assertNotIn("NOT COPIED", r.stdout)
        self.assertIn("Copied             1 files,      100,000 bytes", r.stdout)
        self.assertIn("/SRC/a.bin|", self.text_of("RUN_COPIED.LOG"))
        self.assertNotIn("a.bin", self.text_of("ERR.LOG"))
        self.assertNotIn("not copied", self.text_of("RUN.XML").lower())

    def test_a_source_rewritten_before_its_copy_is_recorded_as_changed(self):
        self.write("SRC/a.txt", b"old", mtime_ns=1_577_836_800 * 10**9)
        env = preloaded_env("rewrite_before_open.c", "rewriting", VELDRO_TEST_REWRITE_NAME="SRC/a.txt",
                            VELDRO_TEST_REWRITE_TEXT="new and longer")
        r = run(["-p", "SRC", "-d", "DST", "-m", "-1", "RUN.LOG!12", "-H", "HASH.TXT"], cwd=self.tmp, env=env)
        self.assertStatus(r, 9)
        self.assertIn("Source changed while it was copied: " + self.path("SRC/a.txt"), r.stdout)
        self.assertIn("---- ERROR - SOURCE CHANGED ---- |", self.text_of("HASH_ERROR.TXT"))
        self.assertIn("SRC/a.txt", self.text_of("HASH_RERUN.TXT"))
        self.assertNotIn("a.txt", self.text_of("RUN_COPIED.LOG"))
        # Retried, it is copied as it now is: its size and times are the rewritten file's.
        shutil.rmtree(self.path("DST"))
        self.write("SRC/a.txt", b"old", mtime_ns=1_577_836_800 * 10**9)
        r = run(["-p", "SRC", "-d", "DST", "-m", "-1", "RUN.LOG!12", "-H", "HASH.TXT", "--RET=2"], cwd=self.tmp, env=env)
        self.assertStatus(r, 0)
        self.assertIn("Retry #1", r.stdout)
        self.assertEqual(self.read("DST/a.txt"), b"new and longer")
        self.assertEqual(os.stat(self.path("DST/a.txt")).st_mtime_ns, os.stat(self.path("SRC/a.txt")).st_mtime_ns)
        self.assertIn("            14 |" + self.path("SRC/a.txt") + "|", self.text_of("RUN_COPIED.LOG"))


class OneReadOfEachSource(RecordCase):
    def test_the_source_is_read_once_whatever_is_hashed(self):
        data = os.urandom(3 * 1024 * 1024 + 17)
        self.write("SRC/big.bin", data)
        for options in ([], ["-H", "HASH.TXT"], ["-h=HASH.TXT", "--SHA1", "--SHA2", "--SHA5"], ["-hs=HASH.TXT"]):
            with self.subTest(options=options):
                shutil.rmtree(self.path("DST"), ignore_errors=True)
                counter = self.path("READS")
                r = run(["-p", "SRC", "-d", "DST", "-m"] + options, cwd=self.tmp,
                        env=preloaded_env("count_source_reads.c", "read-counting", VELDRO_TEST_COUNT_NAME="SRC/big.bin",
                                          VELDRO_TEST_READ_BYTES=counter))
                self.assertStatus(r, 0)
                self.assertEqual(int(self.text_of("READS")), len(data))
                self.assertEqual(self.read("DST/big.bin"), data)
                if options:
                    log = self.text_of("HASH.TXT").upper()
                    self.assertIn(hashlib.md5(data).hexdigest().upper(), log)
                    if "--SHA5" in options:
                        self.assertIn(hashlib.sha512(data).hexdigest().upper(), log)
                    os.remove(self.path("HASH.TXT"))


def write_sparse(path, size, blocks):
    with open(path, "wb") as f:
        for offset in blocks:
            f.seek(offset)
            f.write(b"B" * 4096)
        f.truncate(size)


def data_stretches(path):
    """The (start, end) stretches of data the file system shows."""
    out = []
    with open(path, "rb") as f:
        fd, size, at = f.fileno(), os.fstat(f.fileno()).st_size, 0
        while at < size:
            try:
                start = os.lseek(fd, at, os.SEEK_DATA)
            except OSError:
                break
            at = os.lseek(fd, start, os.SEEK_HOLE)
            out.append((start, at))
    return out


class SparseFiles(RecordCase):
    def test_holes_stay_holes_and_digests_are_of_the_whole_content(self):
        skip_under_wine("holes are kept on Windows only in NTFS sparse files")
        gib = 1 << 30
        os.makedirs(self.path("BIG"))
        os.makedirs(self.path("SRC"))
        write_sparse(self.path("BIG/disk.img"), 4 * gib, [0, 2 * gib, 4 * gib - 4096])
        if os.stat(self.path("BIG/disk.img")).st_blocks * 512 > 1 << 20:
            self.skipTest("the file system of the scratch directory keeps no holes")
        write_sparse(self.path("SRC/small.img"), 64 << 20, [1 << 20, 40 << 20])
        # The 4 GiB file alone (hashing it would only measure the digests),
        # then a smaller one of the same kind with its digests.
        self.assertStatus(run(["-p", "BIG", "-d", "DST", "-m"], cwd=self.tmp, env=clean_env()), 0)
        self.assertStatus(self.copy("-H", "HASH.TXT"), 0)
        for source, size in (("BIG/disk.img", 4 * gib), ("SRC/small.img", 64 << 20)):
            copy = self.path("DST", os.path.basename(source))
            self.assertEqual(os.path.getsize(copy), size)
            self.assertLess(os.stat(copy).st_blocks * 512, 1 << 20, source)
            self.assertEqual(data_stretches(copy), data_stretches(self.path(source)), source)
        with open(self.path("DST/disk.img"), "rb") as f:
            for offset in (0, 2 * gib, 4 * gib - 4096):
                f.seek(offset)
                self.assertEqual(f.read(4096), b"B" * 4096)
        whole = hashlib.md5()
        with open(self.path("SRC/small.img"), "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                whole.update(chunk)
        md5 = whole.hexdigest().upper()
        hashes = self.text_of("HASH.TXT")
        self.assertIn("/SRC/small.img  | %s |%s/DST/small.img  | %s |[OK]" % (md5, self.tmp, md5), hashes)

if __name__ == "__main__":
    unittest.main()
