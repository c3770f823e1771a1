"""The command line and the long options as a user meets them: what is
copied, which files the options open, and how a wrong command ends."""

import os
import re
import shutil
import time
import unittest

from veldro_e2e import TreeCase, clean_env, run

OLD_NS = int(time.mktime((2004, 6, 1, 12, 0, 0, 0, 0, -1))) * 1_000_000_000
NEW_NS = int(time.mktime((2019, 6, 1, 12, 0, 0, 0, 0, -1))) * 1_000_000_000


class OptionCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.write("src/a.txt", b"alpha")
        self.write("src/b.doc", b"bravo")
        self.write("src/sub/c.txt", b"charlie")
        self.write("src/sub/old.bak", b"backup")
        self.src = self.path("src")
        self.dst = self.path("dst")

    def copied(self):
        """The files below the destination, as relative paths."""
        found = []
        for root, _, files in os.walk(self.dst):
            for name in files:
                found.append(os.path.relpath(os.path.join(root, name), self.dst))
        return sorted(found)

    def run_copy(self, *more, env=None):
        return run(["-p", self.src, "-d", self.dst, "-m", "-i", *more], cwd=self.tmp, env=env)


class PositionalArguments(OptionCase):
    def test_absolute_paths_are_positional_arguments(self):
        # On Linux an argument beginning with '/' is a path, never options.
        r = run([self.src, self.dst, "-d", self.dst, "-m", "-i"])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "b.doc", "sub/c.txt", "sub/old.bak"])

    def test_a_positional_destination_alone_is_not_enough(self):
        r = run([self.src, self.dst, "-A"])
        self.assertStatus(r, 6)
        self.assertIn("You forgot to enter either a -p (path) or -d (destination)", r.stdout)

    def test_paths_after_the_options_are_ignored_and_said_so(self):
        r = run(["-A", self.src, self.dst])
        self.assertStatus(r, 6)
        self.assertIn("Ignored after the options", r.stderr)
        self.assertIn("You forgot to enter", r.stdout)


class BadCommandLines(OptionCase):
    def test_unknown_letter_shows_usage_and_fails(self):
        r = run(["-p", self.src, "-d", self.dst, "-Q"])
        self.assertStatus(r, 6)
        self.assertIn("Usage: veldro", r.stdout)
        self.assertFalse(os.path.exists(self.dst))

    def test_dash_led_or_missing_values(self):
        for args in (["-G", "-5"], ["-d", "-A"], ["-w"], ["-E", "-x"], ["-x", "-A"], ["-g"]):
            r = run(["-p", self.src, "-d", self.dst, *args])
            self.assertStatus(r, 6)

    def test_illegal_long_option(self):
        r = self.run_copy("--HASH=x")
        self.assertStatus(r, 6)
        self.assertIn("\nIllegal option: HASH=x", r.stdout)

    def test_unknown_long_option_is_refused(self):
        r = self.run_copy("--whatever")
        self.assertStatus(r, 6)
        self.assertIn("\nUnknown option --whatever\n", r.stdout)

    def test_impossible_and_early_dates(self):
        for value in ("02-30-2021", "25-12-2020", "01-15-10", "12-31-1969"):
            r = self.run_copy("-g", value)
            self.assertStatus(r, 6)
            self.assertFalse(os.path.exists(self.dst), value)

    def test_values_out_of_range_are_refused(self):
        for args, said in ((["--RET=-1"], "--RET: -1"), (["--FLAT=-5"], "--FLAT: -5"), (["-T", "Q"], "-T: Q")):
            r = self.run_copy(*args)
            self.assertStatus(r, 6)
            self.assertIn(said, r.stderr)
            self.assertFalse(os.path.exists(self.dst), args)

    def test_attribute_option_needs_a_modifier(self):
        r = self.run_copy("-a")
        self.assertStatus(r, 6)
        self.assertIn("-a option needs a modifier [erhms]", r.stderr)

    def test_test_mode_needs_a_list(self):
        r = self.run_copy("--TEST")
        self.assertStatus(r, 6)
        self.assertIn("You asked for a --TEST, but forgot to use the -S option", r.stdout)

    def test_backslash_in_a_type_pattern(self):
        r = self.run_copy("-f", "sub\\*.txt")
        self.assertStatus(r, 6)
        self.assertIn("Can't have a \\ in the file type option", r.stderr)


class Selection(OptionCase):
    def test_type_patterns_until_the_next_option(self):
        r = self.run_copy("-f", "*.txt", "*.doc", "-x", "b.*")
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/c.txt"])

    def test_type_file(self):
        self.write("types.lst", b"*.doc\r\n\r\n*.bak")
        r = self.run_copy("-F", self.path("types.lst"))
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["b.doc", "sub/old.bak"])

    def test_exclusion_patterns_ignore_case_with_x_only(self):
        self.write("src/up.BAK", b"u")
        r = self.run_copy("-x", "*.BAK")
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "b.doc", "sub/c.txt"])
        shutil.rmtree(self.dst)
        r = self.run_copy("-X", "*.BAK")
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "b.doc", "sub/c.txt", "sub/old.bak"])

    def test_exclusion_file(self):
        self.write("exclude.txt", b"*.bak\n*.DOC\n")
        r = self.run_copy("--exclude=" + self.path("exclude.txt"))
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/c.txt"])

    def test_bypass_a_directory(self):
        r = self.run_copy("--bypass=" + self.path("src", "sub"))
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "b.doc"])

    def test_bypass_file(self):
        self.write("bypass.txt", (self.path("src", "sub") + "\n").encode())
        r = self.run_copy("--BYP=" + self.path("bypass.txt"))
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "b.doc"])

    def test_a_source_path_naming_a_file(self):
        r = run(["-p", self.path("src", "b.doc"), "-d", self.dst, "-m", "-i"])
        self.assertStatus(r, 0)
        self.assertIn("\nb.doc appears to be a file, not a folder.", r.stdout)
        self.assertIn("new file added=b.doc\n", r.stdout)
        self.assertEqual(self.copied(), ["b.doc"])

    def test_older_than_a_date(self):
        self.write("src/a.txt", b"alpha", mtime_ns=OLD_NS)
        self.write("src/b.doc", b"bravo", mtime_ns=NEW_NS)
        for name in ("sub/c.txt", "sub/old.bak"):
            os.utime(self.path("src", name), ns=(NEW_NS, NEW_NS))
        r = self.run_copy("-g", "01-15-05w")
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt"])


class Destinations(OptionCase):
    def test_drive_only_destination_is_a_directory_on_linux(self):
        r = run(["-p", self.src, "-D", self.dst, "-m", "-i"])
        self.assertStatus(r, 0)
        below = self.src.lstrip("/")
        self.assertTrue(os.path.isfile(os.path.join(self.dst, below, "a.txt")), self.copied())

    def test_relative_paths_with_dot_dot(self):
        r = run(["-p", "src/sub/..", "-d", "out/x/..", "-m", "-i"], cwd=self.tmp)
        self.assertStatus(r, 0)
        self.assertTrue(os.path.isfile(self.path("out", "a.txt")))
        self.assertFalse(os.path.exists(self.path("out", "x")))

    def test_long_destination_makes_directories(self):
        r = run(["-p", self.src, "--destination=" + self.dst, "-i"])
        self.assertStatus(r, 0)
        self.assertIn("a.txt", self.copied())


class FilesTheOptionsOpen(OptionCase):
    def test_hash_log_and_its_companions(self):
        r = self.run_copy("-H", self.path("logs", "HASH.TXT"))
        self.assertStatus(r, 0)
        for name in ("HASH.TXT", "HASH_ERROR.TXT", "HASH_RERUN.TXT"):
            self.assertTrue(os.path.exists(self.path("logs", name)), name)

    def test_second_hash_log_is_refused(self):
        r = self.run_copy("-H", self.path("h1.txt"), "-h=" + self.path("h2.txt"))
        self.assertStatus(r, 6)
        self.assertIn("NEED a hash option of format:  -h[sd]=hashlogfilenames", r.stderr)

    def test_log_set_and_abort_marker(self):
        r = self.run_copy("-1", self.path("logs", "run.log!6"))
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.path("logs", "run.log")))
        self.assertTrue(os.path.exists(self.path("logs", "run_LIST.log")))
        self.assertTrue(os.path.exists(self.path("logs", "run_COPIED.log")))
        self.assertFalse(os.path.exists(self.path("logs", "run_NOT_COPIED.log")))
        # The marker exists while the run goes and is gone after a normal end.
        self.assertFalse(os.path.exists(self.path("logs", "run.logX")))

    def test_logfile_with_drive_colon_and_option_colon(self):
        r = self.run_copy("--LOG=D:\\L\\RUN.LOG:4")
        self.assertStatus(r, 6)
        self.assertIn("Sorry: Can't have a drive letter/colon and a log option colon.", r.stdout)

    def test_unicode_name_file(self):
        r = self.run_copy("--UNICODE=" + self.path("names.txt"))
        self.assertStatus(r, 0)
        self.assertEqual(self.read("names.txt")[:2], b"\xff\xfe")

    def test_unicode_name_file_that_cannot_be_made(self):
        r = self.run_copy("--UNICODE=" + self.path("no", "such", "names.txt"))
        self.assertStatus(r, 4)
        self.assertIn("can't open", r.stdout)

    def test_missing_list_file(self):
        r = run(["-S", self.path("none.txt"), "-d", self.dst, "-m"])
        self.assertStatus(r, 3)
        self.assertIn("Can't find source file to open", r.stderr)

    def test_missing_directory_list_is_refused(self):
        r = run(["--dirs=" + self.path("none.txt"), "-d", self.dst], cwd=self.tmp)
        self.assertStatus(r, 6)
        self.assertIn("Illegal option: dirs=", r.stdout)
        self.assertFalse(os.path.exists(self.dst))

    def test_error_file(self):
        r = self.run_copy("-E", self.path("err", "errors.txt"))
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.path("err", "errors.txt")))


class Threads(OptionCase):
    def outputs(self, option):
        """A run with logs and digests; its console text (numbers masked,
        since times differ, and the option's name, which the header echoes),
        then every file it wrote, moved aside."""
        r = self.run_copy("-1", "logs/run.log!255", "-H", "logs/hash.txt", option)
        self.assertStatus(r, 0)
        files = {}
        for top in ("dst", "logs"):
            for root, _, names in os.walk(self.path(top)):
                for name in names:
                    with open(os.path.join(root, name), "rb") as f:
                        text = f.read().replace(option.encode(), b"OPTION")
                        files[os.path.relpath(os.path.join(root, name), self.tmp)] = re.sub(rb"\d", b"0", text)
            shutil.rmtree(self.path(top))
        return re.sub(r"\d", "0", (r.stdout + r.stderr).replace(option, "OPTION")), files

    def test_a_number_of_threads_changes_no_output(self):
        # One thread is the baseline (digits are masked in the outputs).
        self.assertEqual(self.outputs("--THREADS=1"), self.outputs("--THREADS=4"))

    def test_illegal_numbers_of_threads(self):
        for value in ("0", "65", "x", ""):
            r = self.run_copy("--THREADS=" + value)
            self.assertStatus(r, 6)
            self.assertIn("\nIllegal option: THREADS=" + value, r.stdout)
        r = self.run_copy(env=clean_env(THREADS="0"))
        self.assertStatus(r, 6)


class Environment(OptionCase):
    def test_reset_from_the_environment_and_plus_r(self):
        r = self.run_copy(env=clean_env(RESET="on"))
        self.assertIn("\nRESET filetimes is ON\n", r.stdout)
        r = self.run_copy("+R", env=clean_env(RESET="on"))
        self.assertNotIn("RESET filetimes is ON", r.stdout)

    def test_accounting_file_from_the_environment(self):
        r = self.run_copy(env=clean_env(ACCT=self.path("acct.log")))
        self.assertStatus(r, 0)
        with open(self.path("acct.log"), "rb") as f:
            self.assertIn(b"*" * 40, f.read())


if __name__ == "__main__":
    unittest.main()
