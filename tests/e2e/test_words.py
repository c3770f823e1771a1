"""Words a user types: option words never guessed, values named when missing,
both date forms, blank list lines, and no all-clear without hashing."""

import os
import time
import unittest

from veldro_e2e import TreeCase, run

OLD_NS = int(time.mktime((2019, 6, 1, 12, 0, 0, 0, 0, -1))) * 1_000_000_000


class Words(TreeCase):
    def setUp(self):
        super().setUp()
        self.a = self.write("src/a.txt", b"alpha")
        self.b = self.write("src/old.txt", b"bravo", mtime_ns=OLD_NS)
        self.dst = self.path("dst")

    def run_copy(self, *more):
        return run(["-p", self.path("src"), "-d", self.dst, "-m", "-i", *more], cwd=self.tmp)

    def test_refused_before_the_run_naming_the_word(self):
        for args, said in ((["--dry-run"], "\nUnknown option --dry-run\n"),
                           (["--SHA3-256"], "\nUnknown option --SHA3-256, did you mean --SHA256?\n"),
                           (["-H"], "\nThe option -H lacks its value: the name of the hash log\n"),
                           (["-l", "2021-02-30"], "A date is given as mm-dd-yyyy or yyyy-mm-dd\n")):
            with self.subTest(args=args):
                r = self.run_copy(*args)
                self.assertStatus(r, 6)
                self.assertIn(said, r.stdout + r.stderr)
                self.assertNotIn("Processed", r.stdout)  # no summary of zeros
                self.assertNotIn("\u2554", r.stderr)  # nor a banner
                self.assertFalse(os.path.exists(self.dst))

    def test_year_first_dates_and_an_ini_line_that_is_no_directive(self):
        self.write("KANDRELX.INI", b"[BASE]\nIMMED=ON\nCOLOUR=BLUE\n")
        r = self.run_copy("-l", "2020-01-01")
        self.assertStatus(r, 0)
        self.assertEqual(os.listdir(self.dst), ["a.txt"])
        self.assertRegex(r.stderr, "\nWarning: line 3 of the ini file .*KANDRELX.INI is no directive and is ignored\n")

    def test_blank_list_lines_end_nothing_and_are_counted(self):
        gone = self.path("gone", "missing.txt")
        listing = self.write("list.txt", "\n".join([self.a, "", "  ", gone, self.b, ""]).encode())
        r = run(["-S", listing, "-d", self.dst, "-m"])
        self.assertStatus(r, 3)  # the missing file
        self.assertTrue(os.path.exists(self.dst + self.b))
        self.assertFalse(os.path.exists(self.dst + os.path.dirname(gone)))
        self.assertIn("  Skipped            2 blank lines of the file list\n", r.stdout)

    def test_no_all_clear_when_nothing_was_hashed(self):
        # The second run finds every copy up to date and hashes nothing.
        for said in ("\nNo apparent mismatches in the copied hashes\n", "\nNo files were hashed in this run\n"):
            r = self.run_copy("-H", self.path("HASH.TXT"))
            self.assertStatus(r, 0)
            self.assertIn(said, r.stderr)
            self.assertTrue(self.read("HASH.TXT").endswith(said.encode()))


if __name__ == "__main__":
    unittest.main()
