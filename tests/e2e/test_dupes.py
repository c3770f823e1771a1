"""Flattening, duplicate renaming, --NOCASE and the tilde rule, end to end."""

import hashlib
import os
import re
import unittest

from veldro_e2e import TreeCase, clean_env, preload_library, run, skip_under_wine


class DupesCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.src = self.path("src")
        self.dst = self.path("dst")
        os.makedirs(self.src)
        os.makedirs(self.dst)
        os.makedirs(self.path("logs"))

    def copy(self, *options):
        return run(["-p", self.src, "-d", self.dst, "-i"] + list(options))

    def files_in(self, rel=""):
        top = os.path.join(self.dst, rel)
        return sorted(n for n in os.listdir(top) if os.path.isfile(os.path.join(top, n)))

    def contents(self):
        """Every file below the destination, by its content."""
        found = []
        for top, _dirs, files in os.walk(self.dst):
            for name in files:
                with open(os.path.join(top, name), "rb") as f:
                    found.append(f.read())
        return sorted(found)


class TestFlatten(DupesCase):
    def test_flat_ten_puts_ten_files_in_each_numbered_folder(self):
        for i in range(25):
            self.write(f"src/d{i % 4}/f{i:02d}.txt", f"file {i}")
        r = self.copy("--FLAT=10")
        self.assertStatus(r, 0)
        self.assertEqual(len(self.files_in()), 10)
        self.assertEqual(len(self.files_in("0001")), 10)
        self.assertEqual(len(self.files_in("0002")), 5)
        self.assertEqual(sorted(os.listdir(self.dst)), sorted(self.files_in() + ["0001", "0002"]))

    def test_counts_up_to_five_make_no_folders(self):
        for i in range(8):
            self.write(f"src/d{i % 2}/f{i}.txt", f"file {i}")
        r = self.copy("--FLAT=3")
        self.assertStatus(r, 0)
        self.assertEqual(len(self.files_in()), 8)
        self.assertEqual(len(os.listdir(self.dst)), 8)

    def test_a_copy_made_earlier_in_the_run_is_never_replaced(self):
        self.write("src/one/a.txt", "first")
        self.write("src/two/a.txt", "second")
        hash_log = self.path("logs", "HASH.TXT")
        r = self.copy("--FLAT", "-A", "-H", hash_log)
        self.assertStatus(r, 0)
        self.assertEqual(self.files_in(), ["a.txt", "a[0000].txt"])
        self.assertEqual(self.contents(), [b"first", b"second"])
        with open(hash_log, encoding="utf-8") as f:
            logged = f.read()
        for name in self.files_in():
            with open(os.path.join(self.dst, name), "rb") as f:
                self.assertIn(hashlib.md5(f.read()).hexdigest().upper(), logged)


class TestNoDupe(DupesCase):
    def test_flat_with_nodupe_keeps_every_file(self):
        self.write("src/one/a.txt", "first")
        self.write("src/two/a.txt", "second")
        self.write("src/two/README", "no extension")
        self.write("src/three/README", "no extension either")
        r = self.copy("--FLAT", "--NODUPE", "-1", self.path("logs", "RUN.LOG"))
        self.assertStatus(r, 0)
        names = self.files_in()
        # One index counter for the run: which name gets [0000] depends on
        # the order the walk meets the directories in.
        self.assertEqual(len(names), 4, names)
        self.assertIn("a.txt", names)
        self.assertIn("README", names)
        self.assertEqual(len([n for n in names if re.fullmatch(r"a\[000[01]\]\.txt", n)]), 1, names)
        self.assertEqual(len([n for n in names if re.fullmatch(r"README\[000[01]\]", n)]), 1, names)
        self.assertEqual(self.contents(), sorted([b"first", b"second", b"no extension", b"no extension either"]))
        with open(self.path("logs", "RUN.LOG")) as f:
            self.assertIn("\n Highest (number of duplicates) index number 2\n", f.read())

    def test_a_second_run_never_overwrites_the_renamed_copies_of_the_first(self):
        self.write("src/one/a.txt", "first")
        self.write("src/two/a.txt", "second")
        self.assertStatus(self.copy("--FLAT", "--NODUPE"), 0)
        self.write("src/one/a.txt", "third")
        self.write("src/two/a.txt", "fourth")
        r = self.copy("--FLAT", "--NODUPE")
        self.assertStatus(r, 0)
        self.assertEqual(self.files_in(), ["a.txt", "a[0000].txt", "a[0001].txt", "a[0002].txt"])
        self.assertEqual(self.contents(), [b"first", b"fourth", b"second", b"third"])


class TestNoCase(DupesCase):
    def test_a_name_differing_only_in_case_gets_an_indexed_name(self):
        self.write("src/report.doc", "new report")
        self.write("dst/REPORT.DOC", "old report")
        r = self.copy("--NOCASE")
        self.assertStatus(r, 0)
        self.assertEqual(self.files_in(), ["REPORT.DOC", "report[0000].doc"])
        self.assertEqual(self.read("dst/REPORT.DOC"), b"old report")
        self.assertEqual(self.read("dst/report[0000].doc"), b"new report")
        # The destination had the file under another case: an update, as a
        # case-insensitive destination reports it.
        self.assertIn("[UPDATED]", r.stdout)
        self.assertNotIn("[NEW FILE]", r.stdout)

    def test_the_destination_is_read_once_not_once_per_file(self):
        for i in range(300):
            self.write(f"src/d{i % 3}/f{i:03d}.txt", "x")
        self.write("dst/F000.TXT", "earlier")
        counter = self.path("reads.txt")
        # A sanitizer build must accept a library loaded before its runtime.
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = clean_env(LD_PRELOAD=preload_library("count_dir_reads.c", "directory-read counting"),
                        VELDRO_TEST_DIR_READS=counter,
                        ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        r = run(["-p", self.src, "-d", self.dst, "-i", "--FLAT", "--NOCASE"], env=env)
        self.assertStatus(r, 0)
        self.assertEqual(len(self.files_in()), 301)
        self.assertIn("f000[0000].txt", self.files_in())
        with open(counter) as f:
            self.assertLess(int(f.read()), 30)

    def test_without_nocase_names_of_other_case_are_separate_files(self):

        skip_under_wine("Linux-only names (differing only in case)")
        self.write("src/report.doc", "new report")
        self.write("dst/REPORT.DOC", "old report")
        r = self.copy()
        self.assertStatus(r, 0)
        self.assertEqual(self.files_in(), ["REPORT.DOC", "report.doc"])


class TestTilde(DupesCase):
    def test_an_existing_tilde_name_gets_the_time_suffix_and_a_log_line(self):
        self.write("src/ABCDEF~1.TXT", "new")
        self.write("dst/ABCDEF~1.TXT", "old")
        r = self.copy("--CHK_TILDE=ON", "-1", self.path("logs", "RUN.LOG") + "!32")
        self.assertStatus(r, 0)
        names = self.files_in()
        self.assertEqual(len(names), 2, names)
        renamed = [n for n in names if n != "ABCDEF~1.TXT"][0]
        self.assertRegex(renamed, r"^ABCDEF~1\.TXT\.D\[\d{5}\]$")
        self.assertEqual(self.read("dst/ABCDEF~1.TXT"), b"old")
        self.assertEqual(self.read("dst/" + renamed), b"new")
        old = os.path.join(self.dst, "ABCDEF~1.TXT")
        self.assertIn("\n\nDUPE_FILE: " + old + " ==>   " + os.path.join(self.dst, renamed) + "\n", r.stdout)
        with open(self.path("logs", "RUN_DUPE_FILES.LOG")) as f:
            log = f.read()
        self.assertIn("Check Tilde Duplicate Names Used\n", log)
        self.assertIn("\n" + old + " |RENAMED TO:| " + os.path.join(self.dst, renamed) + "\n", log)

    def test_a_tilde_after_the_eighth_character_is_no_clash(self):
        self.write("src/ABCDEFGH~1.TXT", "new")
        self.write("dst/ABCDEFGH~1.TXT", "old", mtime_ns=0)
        r = self.copy("--CHK_TILDE=ON")
        self.assertStatus(r, 0)
        self.assertEqual(self.files_in(), ["ABCDEFGH~1.TXT"])
        self.assertEqual(self.read("dst/ABCDEFGH~1.TXT"), b"new")

    def test_without_the_rule_the_copy_replaces_the_older_file(self):
        self.write("src/ABCDEF~1.TXT", "new")
        self.write("dst/ABCDEF~1.TXT", "old", mtime_ns=0)
        r = self.copy()
        self.assertStatus(r, 0)
        self.assertEqual(self.files_in(), ["ABCDEF~1.TXT"])
        self.assertFalse(re.search(r"DUPE_FILE", r.stdout))


if __name__ == "__main__":
    unittest.main()
