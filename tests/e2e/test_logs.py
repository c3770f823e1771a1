"""The log set: member names and headers, the lines each member receives,
masks from every source, the date marker, the default log's separator and
append preparation, the abort marker, the -E error log and the failures
that end a run."""

import calendar
import hashlib
import os
import re
import subprocess
import time
import unittest

from veldro_e2e import UNDER_WINE, TreeCase, clean_env, run, skip_under_wine

STARS40 = "*" * 40
LIST_HEADER = "FILES PROCESSED | SIZE | CREATED DATE-TIME | MODIFIED DATE-TIME | ACCESSED DATE-TIME |"
COPIED_HEADER = ("FILES SUCCESSFULLY COPIED SIZE | SOURCE | Filler | DESTINATION | SOURCE CREATED DATE-TIME | "
                 "MODIFIED DATE-TIME | ACCESSED DATE-TIME |\n")
NOT_COPIED_HEADER = "FILES NOT COPIED"
ERROR_HEADER = "SOME FILES MAY NOT HAVE COPIED DUE TO SOME ERROR\n"
DUPES_HEADER = "FILES WHICH HAVE A SHORT FILENAME xxx~N AS LONG FILENAME AND HAVE BEEN RENAMED\n"
DIR_COUNTS_HEADER = " FILE COUNTS PER DIRECTORY\n Count:  SOURCE DIRECTORY\n"
UNICODE_HEADER = "UNICODE FILENAMES OF COPIED FILES\r\n"

# Fixed times for the sources: 2024-03-05 06:07:08.123 (write) and
# 2024-04-09 10:11:12.456 (access), UTC; the runs use TZ=UTC0.
WRITE_NS = calendar.timegm((2024, 3, 5, 6, 7, 8)) * 10**9 + 123 * 10**6
ACCESS_NS = calendar.timegm((2024, 4, 9, 10, 11, 12)) * 10**9 + 456 * 10**6
WRITE_TEXT = "2024/03/05|06:07:08:123m|"
ACCESS_TEXT = "2024/04/09|10:11:12:456a|"
CREATED = r"\d{4}/\d\d/\d\d\|\d\d:\d\d:\d\d:\d{3}c\|"

MEMBERS = {
    2: "_LIST", 4: "_COPIED", 8: "_NOT_COPIED", 16: "_ERROR", 32: "_DUPE_FILES", 64: "_DIR-COUNTS",
    128: "_UNICODE_FILES",
}


def utf16(text):
    return text.encode("utf-16-le")


class LogCase(TreeCase):
    def env(self, **extra):
        return clean_env(TZ="UTC0", **extra)

    def copy(self, *extra, env=None, stdin_data=b""):
        return run(["-p", "SRC", "-d", "DST", "-m"] + list(extra), cwd=self.tmp,
                   env=env if env is not None else self.env(), stdin_data=stdin_data)

    def text(self, rel):
        return self.read(rel).decode("utf-8", "surrogateescape")

    def exists(self, rel):
        return os.path.exists(self.path(rel))

    def members_present(self, base_dir, stem, ext=".LOG"):
        return {bit for bit, suffix in MEMBERS.items() if self.exists(os.path.join(base_dir, stem + suffix + ext))}

    def source(self, rel, data):
        return self.write("SRC/" + rel, data, mtime_ns=WRITE_NS, atime_ns=ACCESS_NS)


class FullLogSet(LogCase):
    """The run of the acceptance example, every member checked byte for byte."""

    def setUp(self):
        super().setUp()
        self.source("a.txt", b"A" * 1024)
        self.source("sub/b.txt", b"bb")
        os.makedirs(self.path("DST"))
        with open(self.path("DST/a.txt"), "wb") as f:   # a newer copy: not copied
            f.write(b"old")
        self.r = self.copy("-1", "LOGS/RUN.LOG!255", "-H", "LOGS/HASH.TXT", "--SHA2", "--MILLI")

    def test_status_console_and_member_names(self):
        self.assertStatus(self.r, 0)
        out = self.r.stdout
        self.assertIn("Creating (log) directory:  LOGS\n", out)
        for line in ("\nOpened files list LOGS/RUN_LIST.LOG", "\nOpened copied list LOGS/RUN_COPIED.LOG",
                     "\nOpened not copied list LOGS/RUN_NOT_COPIED.LOG", "\nOpened error list LOGS/RUN_ERROR.LOG",
                     "\nOpened renamed file list LOGS/RUN_DUPE_FILES.LOG",
                     "\nOpened DIRECTORY file counts list LOGS/RUN_DIR-COUNTS.LOG",
                     "\nOpened UNICODE names list LOGS/RUN_UNICODE_FILES.LOG"):
            self.assertIn(line, out)
        self.assertEqual(self.members_present("LOGS", "RUN"), set(MEMBERS))
        self.assertFalse(self.exists("LOGS/RUN.LOGX"), "the abort marker outlived a normal run")

    def test_default_log(self):

        skip_under_wine("the command line names the Windows program")
        log = self.text("LOGS/RUN.LOG")
        self.assertTrue(log.startswith("\n" + STARS40 + "\n\n Started "), log)
        self.assertIn(" Command line: " + os.environ["VELDRO_BIN"] + " -p SRC -d DST -m -1 LOGS/RUN.LOG!255 "
                      "-H LOGS/HASH.TXT --SHA2 --MILLI \n", log)
        self.assertIn("\n Copied            1 files,            2 bytes: ", log)
        self.assertTrue(log.endswith("*" * 53 + "\n"), log)

    def test_list_log(self):
        expected = (LIST_HEADER +
                    "\n" + self.path("SRC/sub/b.txt") + "| 2|" + CREATED + re.escape(WRITE_TEXT + ACCESS_TEXT) +
                    "\n" + self.path("SRC/a.txt") + "| 1024|" + CREATED + re.escape(WRITE_TEXT + ACCESS_TEXT) +
                    "\n")
        self.assertRegex(self.text("LOGS/RUN_LIST.LOG"), "^" + expected.replace(self.tmp, re.escape(self.tmp)) + "$")

    def test_copied_log_with_digest(self):
        digest = hashlib.md5(b"bb").hexdigest().upper()
        line = ("             2 |" + self.path("SRC/sub/b.txt") + "| ==> |" + self.path("DST/sub/b.txt") + "|")
        text = self.text("LOGS/RUN_COPIED.LOG")
        self.assertTrue(text.startswith(COPIED_HEADER), text)
        body = text[len(COPIED_HEADER):]
        self.assertRegex(body, "^" + re.escape(line) + CREATED + re.escape(WRITE_TEXT + ACCESS_TEXT + digest + "|") +
                         "\n\n$")

    def test_not_copied_error_and_dupes_logs(self):
        self.assertEqual(self.text("LOGS/RUN_NOT_COPIED.LOG"),
                         NOT_COPIED_HEADER + "\n" + self.path("SRC/a.txt") + "| reason: AGE Criteria\n")
        # No error lines; the closing report of the last-access setting.
        self.assertTrue(self.text("LOGS/RUN_ERROR.LOG").startswith(ERROR_HEADER + "  Last Access Date UPDATE is: "))
        self.assertEqual(self.text("LOGS/RUN_DUPE_FILES.LOG"),
                         DUPES_HEADER + "Check Tilde Duplicate Names NOT CHECKED\n\n")

    def test_dir_counts_log(self):
        text = self.text("LOGS/RUN_DIR-COUNTS.LOG")
        self.assertTrue(text.startswith(DIR_COUNTS_HEADER), text)
        self.assertIn(self.path("SRC/sub") + "/", text)

    def test_unicode_log(self):

        skip_under_wine("the UTF-16 log keeps Windows paths")
        data = self.read("LOGS/RUN_UNICODE_FILES.LOG")
        self.assertEqual(data, b"\xff\xfe" + utf16(UNICODE_HEADER + self.path("SRC/sub/b.txt") + " | " +
                                                   self.path("DST/sub/b.txt") + "\r\n"))

    def test_hash_log(self):
        text = self.text("LOGS/HASH.TXT")
        sha2 = hashlib.sha256(b"bb").hexdigest().upper()
        md5 = hashlib.md5(b"bb").hexdigest().upper()
        self.assertEqual(text, "\n" + self.path("SRC/sub/b.txt") + "  | " + md5 + "  | " + sha2 + " |" +
                         self.path("DST/sub/b.txt") + "  | " + md5 + "  | " + sha2 + " |[OK]" +
                         "\nNo apparent mismatches in the copied hashes\n")
        self.assertIn(" [OK]", self.r.stdout)
        self.assertIn("No apparent mismatches in the copied hashes", self.r.stderr)


class RepeatedRuns(LogCase):
    def test_members_grow_unicode_log_starts_afresh_default_log_separates_runs(self):
        skip_under_wine("the UTF-16 log keeps Windows paths")
        self.source("a.txt", b"x")
        for _ in range(2):
            self.assertStatus(self.copy("-A", "-1", "RUN!130"), 0)
        self.assertEqual(self.text("RUN_LIST.LOG").count(LIST_HEADER), 2)
        data = self.read("RUN_UNICODE_FILES.LOG")
        self.assertEqual(data.count(utf16(UNICODE_HEADER)), 1)
        self.assertTrue(data.startswith(b"\xff\xfe"))
        self.assertEqual(self.text("RUN").count("\n" + STARS40 + "\n"), 2)

    def test_old_log_ending_in_end_marks_is_continued_after_its_text(self):
        self.source("a.txt", b"x")
        with open(self.path("RUN.LOG"), "wb") as f:
            f.write(b"earlier run text\x1a\x1a\x00")
        self.assertStatus(self.copy("-1", "RUN.LOG"), 0)
        self.assertTrue(self.text("RUN.LOG").startswith("earlier run text\n" + STARS40 + "\n"))


class Masks(LogCase):
    def setUp(self):
        super().setUp()
        self.source("a.txt", b"x")

    def test_short_options_and_separators(self):
        self.copy("-1", "L1.LOG!6")
        self.assertEqual(self.members_present(".", "L1"), {2, 4})
        self.copy("-A", "-2", "L2.LOG|8")
        self.assertEqual(self.members_present(".", "L2"), {8})
        self.copy("-A", "-3=L3.LOG;all")
        self.assertEqual(self.members_present(".", "L3"), set(MEMBERS))
        self.copy("-A", "-1", "L4.LOG!256")
        self.assertEqual(self.members_present(".", "L4"), set())
        self.assertTrue(self.exists("L4.LOG"))

    def test_long_options(self):
        self.copy("--LOG=G1.LOG:64")
        self.assertEqual(self.members_present(".", "G1"), {64})
        self.copy("-A", "--logfile=G2.LOG!list,cop")
        self.assertEqual(self.members_present(".", "G2"), {2, 4})
        self.copy("-A", "--ACC=G3.LOG!UNI")
        self.assertEqual(self.members_present(".", "G3"), {128})
        self.copy("-A", "--LOG=G4.LOG!6", "--ERR=8")
        self.assertEqual(self.members_present(".", "G4"), {2, 4, 8})
        self.copy("-A", "--ERR=ERR", "--LOG=G5.LOG")
        self.assertEqual(self.members_present(".", "G5"), {16})

    def test_drive_colon_with_option_colon_is_refused(self):
        r = self.copy("--LOG=D:\\L\\RUN.LOG:4")
        self.assertStatus(r, 6)
        self.assertIn("\n\nSorry: Can't have a drive letter/colon and a log option colon. \n"
                      "Replace option colon with ! and re-run\n\n", r.stdout)

    def test_environment_acct(self):

        skip_under_wine("the command line names the Windows program")
        self.assertStatus(self.copy(env=self.env(ACCT="on")), 0)
        self.assertTrue(self.text("ACCT-ING").startswith("\n" + STARS40 + "\n"))
        self.assertStatus(self.copy("-A", env=self.env(ACCT="ACC.LOG")), 0)
        self.assertIn(" Started ", self.text("ACC.LOG"))
        self.assertEqual(self.members_present(".", "ACC"), set())

    def test_ini_log_directive(self):
        with open(self.path("KANDRELX.INI"), "w") as f:
            f.write("[BASE]\nLOGFILE=INI.LOG!128\n")
        r = self.copy()
        self.assertStatus(r, 0)
        self.assertEqual(self.members_present(".", "INI"), set(MEMBERS))
        self.assertIn(" INI_FILE", self.text("INI.LOG"))
        self.assertIn(" END INI FILE\n", self.text("INI.LOG"))

    def test_base_name_without_extension(self):
        self.copy("-1", "logs/RUN!2")
        self.assertTrue(self.exists("logs/RUN_LIST.LOG"))
        self.assertTrue(self.exists("logs/RUN"))


class NamesAndMarkers(LogCase):
    def setUp(self):
        super().setUp()
        self.source("a.txt", b"x")

    def test_date_marker(self):
        before = time.gmtime()
        r = self.copy("-1", "LOGS/MMDD.LOG!2", "--LOG=LOGS/YYMM.TXT")
        after = time.gmtime()
        self.assertStatus(r, 0)
        dates = {time.strftime("%Y%m%d", t) for t in (before, after)}
        names = set(os.listdir(self.path("LOGS")))
        self.assertTrue(any({d + ".LOG", d + "_LIST.LOG", d + ".TXT"} <= names for d in dates), names)
        self.assertFalse(any(n.startswith(("MMDD", "YYMM")) for n in names), names)

    def test_abort_marker_survives_an_aborted_run(self):
        # Refusing to create the destination ends the run as aborted.
        r = run(["-p", "SRC", "-d", "NEWDST", "-1", "RUN.LOG!2"], cwd=self.tmp, env=self.env(), stdin_data=b"N")
        self.assertStatus(r, 2)
        self.assertEqual(self.text("RUN.LOGX"),
                         "\nIF YOU ARE READING THIS, THERE MAY HAVE BEEN AN UNUSUAL PROGRAM ABORT ")
        self.assertIn("\nABNORMAL TERMINATION\n", self.text("RUN.LOG"))
        self.assertStatus(self.copy("-1", "RUN.LOG!2"), 0)
        self.assertFalse(self.exists("RUN.LOGX"))

    def test_member_that_cannot_be_opened_ends_with_output_file(self):
        os.makedirs(self.path("RUN_DIR-COUNTS.LOG"))
        r = self.copy("-1", "RUN.LOG!64")
        self.assertStatus(r, 4)
        self.assertIn("\ncan't open DIRECTORY COUNTS LOG FILE\n\n", r.stdout)
        self.assertIn("Program Not completed OUTPUT_FILE", r.stdout)

    def test_error_member_receives_the_error_lines(self):
        os.makedirs(self.path("DST/a.txt/in-the-way"))  # a directory where the copy should go
        r = self.copy("-A", "-1", "RUN.LOG!16")
        self.assertIn("NOT COPIED (error)", r.stdout)
        text = self.text("RUN_ERROR.LOG")
        self.assertTrue(text.startswith(ERROR_HEADER + "\n" + self.path("SRC/a.txt") + " | NOT COPIED to " +
                                        self.path("DST/a.txt")), text)
        self.assertIn("Last Access Date UPDATE is: ", text)

    def test_error_log_of_e(self):

        skip_under_wine("the command line names the Windows program")
        r = self.copy("-E", "E/ERRORS.TXT")
        self.assertStatus(r, 0)
        text = self.text("E/ERRORS.TXT")
        self.assertTrue(text.startswith("\n" + "*" * 60 + "\n\n Started "), text)
        self.assertIn(" Command line: " + os.environ["VELDRO_BIN"] + " -p SRC -d DST -m -E E/ERRORS.TXT \n\n", text)
        self.assertIn("\n  Processed 1 files.   Copied 1 bytes in 1 files\n", text)
        self.assertIn("Last Access Date UPDATE is: ", text)


class NonAsciiTree(LogCase):
    """Every member reads correctly for names beyond ASCII."""

    def test_full_set(self):

        skip_under_wine("the UTF-16 log keeps Windows paths")
        names = ["caf\u00e9.txt", "\u65e5\u672c/\u30c7\u30fc\u30bf.txt", "\u00fcber \u00e4\u00f6.bin"]
        for n in names:
            self.source(n, b"content")
        self.write("DST/caf\u00e9.txt", b"newer")  # not copied: destination newer
        os.utime(self.path("DST/caf\u00e9.txt"), ns=(ACCESS_NS * 2, WRITE_NS * 2))
        r = self.copy("-1", "LOGS/RUN.LOG!255", "-H", "LOGS/HASH.TXT")
        self.assertStatus(r, 0)
        copied_names = names[1:]
        listed = self.read("LOGS/RUN_LIST.LOG").decode("utf-8")
        copied = self.read("LOGS/RUN_COPIED.LOG").decode("utf-8")
        not_copied = self.read("LOGS/RUN_NOT_COPIED.LOG").decode("utf-8")
        hashes = self.read("LOGS/HASH.TXT").decode("utf-8")
        unicode_log = self.read("LOGS/RUN_UNICODE_FILES.LOG")[2:].decode("utf-16-le")
        counts = self.read("LOGS/RUN_DIR-COUNTS.LOG").decode("utf-8")
        for n in names:
            self.assertIn("\n" + self.path("SRC", n) + "| 7|", listed)
        for n in copied_names:
            self.assertIn("|" + self.path("SRC", n) + "| ==> |" + self.path("DST", n) + "|", copied)
            self.assertIn("\n" + self.path("SRC", n) + "  | ", hashes)
            self.assertIn(self.path("SRC", n) + " | " + self.path("DST", n) + "\r\n", unicode_log)
        self.assertIn("\n" + self.path("SRC", names[0]) + "| reason: AGE Criteria", not_copied)
        self.assertIn(self.path("SRC", "\u65e5\u672c"), counts)


class FailureReasons(LogCase):
    """A failed copy's console line and error-log line end with the system's
    reason; the not-copied log's reason stays as it was."""

    def test_each_failure_names_its_reason(self):
        long_name = "n" * 251 + ".txt"  # the name a clash gives it is too long
        cases = [
            # (what, sources, in the way, extra options, destination, reason)
            ("parent is a file", ["sub/a.txt"], {"DST/sub": "file"}, [], "DST/sub/a.txt", "Not a directory"),
            ("destination is a directory", ["a.txt"], {"DST/a.txt/x": "dir"}, [], "DST/a.txt", "Is a directory"),
            ("name too long", ["one/" + long_name, "two/" + long_name], {}, ["--FLAT"],
             "DST/" + long_name[:-4] + "[0000].txt", "File name too long"),
        ]
        # Under wine the system's own words differ: any reason in brackets.
        base = self.tmp
        for what, sources, in_the_way, extra, dest, reason in cases:
            with self.subTest(what):
                self.tmp = os.path.join(base, what.replace(" ", "-"))
                os.makedirs(self.tmp)
                for rel in sources:
                    self.source(rel, b"data")
                for rel, kind in in_the_way.items():
                    if kind == "dir":
                        os.makedirs(self.path(rel))
                    else:
                        self.write(rel, b"in the way")
                r = self.copy("-A", "-1", "RUN.LOG!24", *extra)
                self.assertStatus(r, 9)
                said = r"\(" + (r"[^()\n]+" if UNDER_WINE else re.escape(reason)) + r"\)"
                self.assertRegex(r.stdout, r"\n NOT COPIED \(error\) to " + re.escape(self.path(dest)) + " " + said)
                self.assertRegex(self.text("RUN_ERROR.LOG"),
                                 r"\| NOT COPIED to " + re.escape(self.path(dest)) + " " + said)
                self.assertRegex(self.text("RUN_NOT_COPIED.LOG"), r"\| reason: \*+ COPY ERROR \*+(\n|$)")


if __name__ == "__main__":
    unittest.main()


class FullLogDisk(TreeCase):
    """The hash log and the DFXML on a 64 KiB tmpfs that fills up: each is
    said with its reason, the run fails, and the seal and the report keep
    them apart from the logs written whole."""

    def test_logs_that_lose_writes_fail_the_run_and_stay_out_of_the_seal(self):
        skip_under_wine("a tmpfs is mounted by Linux")
        full = self.path("full")
        os.makedirs(full)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("a small tmpfs cannot be mounted here (needs root)")
        self.addCleanup(subprocess.run, ["umount", full])
        for i in range(400):
            self.write(f"src/{'n' * 60}{i:04d}.txt", b"x")
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-1", self.path("RUN.LOG") + "!4",
                 "-E", self.path("ERR.LOG"), "-H", f"{full}/HASH.TXT", f"--DFXML={full}/run.xml", "--SEAL",
                 "--REPORT=" + self.path("report.html")])
        self.assertStatus(r, 9)
        for name in ("HASH.TXT", "run.xml"):
            said = f"Can't write {full}/{name} (No space left on device): the file is incomplete"
            self.assertIn(said, r.stderr)
            self.assertIn(said, self.read("ERR.LOG").decode())
            self.assertIn(f"{full}/{name}</td><td>No space left on device", self.read("report.html").decode())
        seal = self.read("RUN.LOG.sha256").decode()
        self.assertIn("RUN_COPIED.LOG\n", seal)
        self.assertNotRegex(seal, r"[0-9a-f]{64}  \S*(HASH\.TXT|run\.xml)\n")
        self.assertRegex(seal, r"# not sealed, incomplete \(No space left on device\): \S*HASH\.TXT\n")
        check = subprocess.run(["sha256sum", "-c", "--quiet", self.path("RUN.LOG.sha256")], cwd=self.tmp,
                               capture_output=True)
        self.assertEqual(check.returncode, 0, check)
