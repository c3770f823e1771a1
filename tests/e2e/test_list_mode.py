"""File-list (-S) and directory-list (--dirs) modes, end to end."""

import os
import stat
import unittest

from veldro_e2e import TreeCase, run, skip_under_wine


class ListModeCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.a = self.write("src/a.txt", b"alpha")
        self.b = self.write("src/sub/b.txt", b"bravo!")
        self.dst = self.path("dst")
        os.makedirs(self.dst)
        os.makedirs(self.path("logs"))

    def copy_of(self, source):
        """Where the list mode puts a source file: below the destination
        under the file's own absolute path."""
        return os.path.join(self.dst, source.lstrip("/"))

    def list_file(self, lines, name="list.txt", ending=b"\n"):
        data = b"".join((l.encode() if isinstance(l, str) else l) + ending for l in lines)
        return self.write(name, data)

    def log(self, name):
        with open(self.path("logs", name), "rb") as f:
            return f.read().decode("utf-8", "replace")


class TestFileList(ListModeCase):
    def test_copies_each_listed_file_with_bars_blanks_and_crlf(self):
        skip_under_wine("100-ns times")
        listing = self.list_file([self.a + " | seized 12:00 | box 4", self.b + "   "], ending=b"\r\n")
        r = run(["-S", listing, "-d", self.dst])
        self.assertStatus(r, 0)
        with open(self.copy_of(self.a), "rb") as f:
            self.assertEqual(f.read(), b"alpha")
        with open(self.copy_of(self.b), "rb") as f:
            self.assertEqual(f.read(), b"bravo!")
        self.assertEqual(os.stat(self.copy_of(self.a)).st_mtime_ns, os.stat(self.a).st_mtime_ns)
        self.assertIn("  ==> " + self.copy_of(self.a), r.stdout)
        self.assertIn("         1 of 2 files,   5 bytes", r.stderr)
        self.assertIn("         2 of 2 files,   11 bytes", r.stderr)

    def test_directory_lines_and_missing_files_are_reported_and_passed_over(self):
        missing = self.path("src", "missing.txt")
        listing = self.list_file([self.path("src", "sub"), missing, self.a])
        r = run(["-S", listing, "-d", self.dst, "-1", self.path("logs", "RUN.LOG") + "!8"])
        # A listed file that is not there makes the run an input fault.
        self.assertStatus(r, 3)
        self.assertIn("Program Not completed INPUT_FILE", r.stdout)
        self.assertIn(self.path("src", "sub") + " ==> SOURCE IS DIRECTORY, NOT PROCESSED", r.stdout)
        self.assertIn(missing + " ==> NOT LOCATED", r.stdout)
        self.assertIn("\n" + missing + "| Not Copied: Reason: File NOT LOCATED", self.log("RUN_NOT_COPIED.LOG"))
        self.assertTrue(os.path.exists(self.copy_of(self.a)))
        # Only the line that reached a copy shows in the progress.
        self.assertIn("         1 of 3 files,", r.stderr)
        self.assertNotIn("         2 of 3 files,", r.stderr)

    def test_an_empty_line_ends_nothing(self):
        listing = self.list_file([self.a, "", self.b])
        r = run(["-S", listing, "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.copy_of(self.a)))
        self.assertTrue(os.path.exists(self.copy_of(self.b)))

    def test_a_line_climbing_with_dotdot_cannot_leave_the_destination(self):
        outside = self.path("outside")
        climbing = self.path("src", "sub") + "/../../../../../../../../.." + self.a
        listing = self.list_file([climbing])
        r = run(["-S", listing, "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.copy_of(self.a)), repr(r))
        self.assertFalse(os.path.exists(outside))
        for top, dirs, files in os.walk(self.tmp):
            for name in files:
                full = os.path.join(top, name)
                if name == "a.txt" and full != self.a:
                    self.assertTrue(full.startswith(self.dst + "/"), full)

    def test_test_mode_only_checks_and_still_makes_the_directories(self):
        missing = self.path("src", "gone.txt")
        listing = self.list_file([self.a, missing])
        r = run(["-S", listing, "-d", self.dst, "--TEST", "--logfile=" + self.path("logs", "RUN.LOG") + "!12"])
        self.assertStatus(r, 3)
        self.assertFalse(os.path.exists(self.copy_of(self.a)))
        self.assertTrue(os.path.isdir(os.path.dirname(self.copy_of(self.a))))
        copied = self.log("RUN_COPIED.LOG")
        self.assertIn("\n" + self.a + "|", copied)
        self.assertNotIn(missing, copied)
        self.assertIn(missing, self.log("RUN_NOT_COPIED.LOG"))

    def test_list_only_shows_the_files_and_copies_nothing(self):
        listing = self.list_file([self.a])
        r = run(["-S", listing, "-d", self.dst, "-N"])
        self.assertStatus(r, 0)
        self.assertFalse(os.path.exists(self.copy_of(self.a)))
        self.assertFalse(os.path.exists(os.path.dirname(self.copy_of(self.a))))
        self.assertIn(self.a + " ", r.stdout)
        self.assertIn("         5   ==>   " + self.copy_of(self.a), r.stdout)

    def test_logs_hash_lines_and_default_log_lines(self):
        listing = self.list_file([self.a])
        hashlog = self.path("logs", "HASH.TXT")
        r = run(["-S", listing, "-d", self.dst, "-1", self.path("logs", "RUN.LOG") + "!6", "-H", hashlog])
        self.assertStatus(r, 0)
        self.assertIn(" [OK]", r.stdout)
        md5 = "2C1743A391305FBF367DF8E4F069F9F9"  # md5("alpha")
        with open(hashlog) as f:
            hashes = f.read()
        self.assertIn("\n\n" + self.a + "  " + md5 + " ", hashes)
        self.assertIn("\n" + self.copy_of(self.a) + "  " + md5 + " ", hashes)
        self.assertIn("\n" + self.a + "|", self.log("RUN_LIST.LOG"))
        self.assertIn("\n" + self.a + "| 5|", self.log("RUN_COPIED.LOG"))
        self.assertIn("              5 " + self.a + "        ==>" + self.copy_of(self.a), self.log("RUN.LOG"))

    def test_overwrite_protected_destination_gets_its_attributes_back(self):
        listing = self.list_file([self.a])
        target = self.copy_of(self.a)
        os.makedirs(os.path.dirname(target))
        with open(target, "wb") as f:
            f.write(b"old")
        os.chmod(target, 0o444)
        r = run(["-S", listing, "-d", self.dst, "-O"])
        self.assertStatus(r, 0)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"alpha")
        self.assertFalse(os.stat(target).st_mode & stat.S_IWUSR, "read-only again after the copy")

    def test_a_failed_copy_leaves_a_protected_destination_protected(self):

        skip_under_wine("read-only is set through Linux permissions")
        fifo = self.path("src", "pipe")
        os.mkfifo(fifo)  # never opened for reading: its copy fails
        target = self.copy_of(fifo)
        os.makedirs(os.path.dirname(target))
        with open(target, "wb") as f:
            f.write(b"old")
        os.chmod(target, 0o444)
        r = run(["-S", self.list_file([fifo]), "-d", self.dst, "-O", "-1", self.path("logs", "RUN.LOG") + "!8"])
        self.assertNotEqual(r.status, 0, repr(r))
        self.assertIn("ERROR: " + fifo + " | NOT COPIED to " + target + " REASON: NOT A REGULAR FILE", r.stdout)
        self.assertIn("| NOT COPIED: Reason: Not a regular file", self.log("RUN_NOT_COPIED.LOG"))
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"old")
        self.assertFalse(os.stat(target).st_mode & stat.S_IWUSR, "still read-only after the failed copy")

    def test_a_copy_that_fails_is_reported_and_the_run_is_no_success(self):
        listing = self.list_file([self.a, self.b])
        os.makedirs(self.copy_of(self.a))  # a directory stands in the way
        r = run(["-S", listing, "-d", self.dst, "-1", self.path("logs", "RUN.LOG") + "!8"])
        self.assertNotEqual(r.status, 0, repr(r))
        self.assertIn("ERROR: " + self.a + " | NOT COPIED to " + self.copy_of(self.a), r.stdout)
        self.assertIn(" REASON: DESTINATION IS FOLDER ", r.stdout)
        self.assertIn("| NOT COPIED: Reason: Destination is folder", self.log("RUN_NOT_COPIED.LOG"))
        self.assertTrue(os.path.exists(self.copy_of(self.b)), "the run goes on with the next line")

    def test_a_list_file_that_cannot_be_opened_ends_with_input_file(self):
        r = run(["-S", self.path("no-such-list.txt"), "-d", self.dst])
        self.assertStatus(r, 3)
        self.assertIn("Can't find source file to open", r.stderr)

    def test_utf8_names_and_a_byte_order_mark(self):
        name = self.write("src/bücher é.txt", b"utf")
        listing = self.write("list.txt", b"\xef\xbb\xbf" + name.encode() + b"\n")
        r = run(["-S", listing, "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.copy_of(name)), repr(r))


class TestDirsList(ListModeCase):
    def test_every_listed_root_is_walked_below_the_destination(self):
        other = self.write("work/c7/deep/c.txt", b"charlie")
        listing = self.list_file([self.path("src") + " | evidence bag 1",
                                  self.path("nowhere"),
                                  self.a,
                                  self.path("work", "c7") + "/"])
        r = run(["--dirs=" + listing, "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.copy_of(self.a)), repr(r))
        self.assertTrue(os.path.exists(self.copy_of(self.b)))
        self.assertTrue(os.path.exists(self.copy_of(other)))
        self.assertFalse(os.path.exists(self.copy_of(self.path("nowhere"))))

    def test_a_short_line_ends_the_list(self):
        other = self.write("work/c.txt", b"charlie")
        listing = self.list_file([self.path("src"), "x", self.path("work")])
        r = run(["--dirs=" + listing, "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.copy_of(self.a)))
        self.assertFalse(os.path.exists(self.copy_of(other)))

    def test_a_root_climbing_with_dotdot_lands_under_its_real_path(self):
        listing = self.list_file([self.path("work") + "/../src"])
        os.makedirs(self.path("work"))
        r = run(["--dirs=" + listing, "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.copy_of(self.b)), repr(r))


if __name__ == "__main__":
    unittest.main()
