"""Words a user types: option words that are never guessed, values named
when missing, both date forms, list files that skip blank lines, and a hash
log that gives no all-clear when nothing was hashed."""

import os
import time
import unittest

from veldro_e2e import TreeCase, run

OLD_NS = int(time.mktime((2019, 6, 1, 12, 0, 0, 0, 0, -1))) * 1_000_000_000


class WordsCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.a = self.write("src/a.txt", b"alpha")
        self.b = self.write("src/old.txt", b"bravo", mtime_ns=OLD_NS)
        self.src = self.path("src")
        self.dst = self.path("dst")

    def run_copy(self, *more):
        return run(["-p", self.src, "-d", self.dst, "-m", "-i", *more], cwd=self.tmp)

    def assertRefusedBeforeTheRun(self, r, said):
        self.assertStatus(r, 6)
        self.assertIn(said, r.stdout + r.stderr)
        self.assertNotIn("\u2554", r.stderr, "no banner")
        self.assertNotIn("Processed", r.stdout, "no summary of zeros")
        self.assertFalse(os.path.exists(self.dst))


class OptionWords(WordsCase):
    def test_words_that_name_no_keyword_are_refused(self):
        for word, said in (("--dry-run", "\nUnknown option --dry-run\n"),
                           ("--sha-256", "\nUnknown option --sha-256, did you mean --SHA256?\n"),
                           ("--SHA3-256", "\nUnknown option --SHA3-256, did you mean --SHA256?\n"),
                           ("--dfxm=x.xml", "\nUnknown option --dfxm, did you mean --DFXML?\n"),
                           ("--audit=k.txt", "\nUnknown option --audit, did you mean --AUDITSET?\n"),
                           ("--verify", "\nUnknown option --verify, did you mean --VERIFY_MEDIA?\n"),
                           ("--checksum", "\nUnknown option --checksum\n"),
                           ("--ALL=1", "\nIllegal option: ALL=1")):
            with self.subTest(word=word):
                self.assertRefusedBeforeTheRun(self.run_copy(word), said)

    def test_an_ini_line_that_is_no_directive_is_named(self):
        self.write("KANDRELX.INI", b"[BASE]\nIMMED=ON\nSHA256=ON\nCOLOUR=BLUE\n")
        r = self.run_copy()
        self.assertStatus(r, 0)
        self.assertRegex(r.stderr, "\nWarning: line 4 of the ini file .*KANDRELX.INI is no directive and is ignored\n")
        self.assertNotIn("line 3", r.stderr)


class MissingValues(WordsCase):
    def test_a_letter_without_its_value_names_it(self):
        for args, said in ((["-H"], "The option -H lacks its value: the name of the hash log"),
                           (["-G", "-A"], "The option -G lacks its value: a byte count")):
            with self.subTest(args=args):
                self.assertRefusedBeforeTheRun(self.run_copy(*args), said)


class Dates(WordsCase):
    def test_year_first_dates_are_accepted(self):
        for value in ("2020-01-01", "01-01-2020"):
            with self.subTest(value=value):
                r = self.run_copy("-l", value)
                self.assertStatus(r, 0)
                self.assertTrue(os.path.exists(os.path.join(self.dst, "a.txt")))
                self.assertFalse(os.path.exists(os.path.join(self.dst, "old.txt")))

    def test_a_refused_date_names_both_forms(self):
        for value in ("2021-02-30", "13-01-2020", "2021-xx"):
            with self.subTest(value=value):
                self.assertRefusedBeforeTheRun(self.run_copy("-l", value), "mm-dd-yyyy or yyyy-mm-dd")


class FileLists(WordsCase):
    def test_blank_lines_end_nothing_and_are_counted(self):
        c = self.write("src/c.txt", b"charlie")
        gone = self.path("gone", "missing.txt")
        listing = self.write("list.txt", "\n".join([self.a, "", "  ", self.b, gone, c, ""]).encode())
        os.makedirs(self.dst)
        r = run(["-S", listing, "-d", self.dst])
        self.assertStatus(r, 3)  # the missing file
        for source in (self.a, self.b, c):
            self.assertTrue(os.path.exists(os.path.join(self.dst, source.lstrip("/"))), source)
        self.assertIn("  Skipped            2 blank lines of the file list\n", r.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.dst, os.path.dirname(gone).lstrip("/"))))


class HashVerdict(WordsCase):
    def test_no_all_clear_when_nothing_was_hashed(self):
        hashes = self.path("logs", "HASH.TXT")
        r = self.run_copy("-H", hashes)
        self.assertStatus(r, 0)
        self.assertIn("No apparent mismatches in the copied hashes", r.stderr)
        # Nothing is newer than its copy: the second run hashes nothing.
        r = self.run_copy("-H", hashes)
        self.assertStatus(r, 0)
        self.assertIn("\nNo files were hashed in this run\n", r.stderr)
        self.assertTrue(self.read("logs/HASH.TXT").endswith(b"\nNo files were hashed in this run\n"))


if __name__ == "__main__":
    unittest.main()
