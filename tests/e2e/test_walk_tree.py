"""The tree walk: order of handling, -r, type patterns, exclusions, bypass
paths, a -p path that names a file, and the counting pass."""

import os
import re
import subprocess
import unittest

from veldro_e2e import TreeCase, run, skip_under_wine


class WalkCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.src = self.path("src")
        self.dst = self.path("dst")
        os.makedirs(self.src)

    def walk(self, *extra, count=False):
        args = ["-p", self.src, "-d", self.dst, "-m"] + ([] if count else ["-i"])
        args += ["-1", self.path("logs", "run.log") + "!10"]
        return run(args + list(extra))

    def handled(self, result):
        """Source paths in the order the console reported their copies."""
        return [line.rstrip() for line in result.stdout.splitlines() if line.startswith(self.src + "/")]

    def listed(self):
        with open(self.path("logs", "run_LIST.log"), "rb") as f:
            text = f.read().decode("utf-8", "surrogateescape")
        return [line.split("|")[0] for line in text.splitlines()[1:] if line]

    def copied(self):
        return sorted(os.path.relpath(os.path.join(d, n), self.dst)
                      for d, _, names in os.walk(self.dst) for n in names)


class WalkOrderTest(WalkCase):
    def test_subdirectories_come_before_a_directorys_own_files(self):
        self.write("src/y.txt", "y")
        self.write("src/a/x.txt", "x")
        self.write("src/a/b/w.txt", "w")
        result = self.walk()
        self.assertStatus(result, 0)
        order = self.handled(result)
        self.assertEqual(order, [os.path.join(self.src, p) for p in ("a/b/w.txt", "a/x.txt", "y.txt")])

    def test_no_recursion_handles_the_root_files_only(self):
        self.write("src/y.txt", "y")
        self.write("src/a/x.txt", "x")
        self.walk("-r")
        self.assertEqual(self.copied(), ["y.txt"])


class WalkPatternTest(WalkCase):
    def test_type_patterns_ignore_case_and_a_file_matching_two_is_handled_twice(self):
        self.write("src/n.txt", "n")
        self.write("src/m.DOC", "m")
        self.write("src/README", "r")
        self.walk("-f", "*.TXT", "*.doc")
        self.assertEqual(self.copied(), ["m.DOC", "n.txt"])
        before = self.listed().count(os.path.join(self.src, "n.txt"))
        self.walk("-A", "-f", "*.txt", "*.*")
        self.assertEqual(self.listed().count(os.path.join(self.src, "n.txt")) - before, 2)
        self.assertIn(os.path.join(self.src, "README"), self.listed())

    def test_a_pattern_beginning_with_minus_ends_the_list(self):
        self.write("src/a.txt", "a")
        self.write("src/b.doc", "b")
        types = self.write("types.lst", "*.txt\n-stop\n*.doc\n")
        self.walk("-F", types)
        self.assertEqual(self.copied(), ["a.txt"])

    def test_exclusions_fold_case_with_x_and_not_with_capital_x(self):
        self.write("src/old.bak", "o")
        self.write("src/keep.txt", "k")
        result = self.walk("-x", "*.BAK")
        self.assertEqual(self.copied(), ["keep.txt"])
        # Excluded files are not counted among the processed ones...
        self.assertRegex(result.stdout, r"Processed\s+1 files")
        self.assertNotIn(os.path.join(self.src, "old.bak"), self.listed())
        # ...but the counting pass counts them.
        counted = self.walk("-x", "*.BAK", count=True)
        self.assertIn(" 2 files to process", counted.stderr)
        self.walk("-X", "*.BAK")
        self.assertEqual(self.copied(), ["keep.txt", "old.bak"])

    def test_bypass_covers_the_directory_and_what_is_below_it(self):
        for rel in ("tmp/a.txt", "tmp/sub/b.txt", "tmpfiles/c.txt", "other/d.txt"):
            self.write("src/" + rel, "x")
        result = self.walk("--bypass=" + os.path.join(self.src, "tmp"))
        self.assertStatus(result, 0)
        self.assertEqual(self.copied(), ["other/d.txt", "tmpfiles/c.txt"])

    def test_a_source_that_names_a_file_becomes_its_directory_and_a_pattern(self):
        self.write("src/report.doc", "r")
        self.write("src/other.doc", "o")
        result = run(["-p", os.path.join(self.src, "report.doc"), "-d", self.dst, "-m", "-i"])
        self.assertStatus(result, 0)
        self.assertIn("\nreport.doc appears to be a file, not a folder.", result.stdout)
        self.assertIn("source directory=" + self.src + "\n", result.stdout)
        self.assertEqual(self.copied(), ["report.doc"])


class CountingPassTest(WalkCase):
    def test_counter_every_thousand_files_then_the_totals(self):
        for i in range(2500):
            d = self.path("src", "d%d" % (i // 500))
            if i % 500 == 0:
                os.makedirs(d)
            with open(os.path.join(d, "f%d" % i), "wb") as f:
                f.write(b"12")
        result = run(["-p", self.src, "-d", self.dst, "-m", "-n"])
        self.assertStatus(result, 0)
        err = result.stderr
        self.assertIn("Counting files: ", err)
        self.assertIn("   1000\b\b\b\b\b\b\b", err)
        self.assertIn("   2000\b\b\b\b\b\b\b", err)
        self.assertNotIn("   3000", err)
        self.assertIn("\r 2500 files to process, 5,000\n\n", err)

    def test_throughput_line_after_two_hundred_million_bytes(self):
        with open(self.path("src", "a_big.bin"), "wb") as f:
            f.truncate(150_000_000)
        with open(self.path("src", "b_big.bin"), "wb") as f:
            f.truncate(60_000_000)
        result = run(["-p", self.src, "-d", self.dst, "-m"])
        self.assertStatus(result, 0)
        lines = re.findall(r"\n\n\n\d+ meg/min +\d+ hrs\. +\d+ mins\. +\d+ secs remaining\n\n\n", result.stdout)
        self.assertEqual(len(lines), 1, repr(result))
        # It follows the copy that passed the mark, not the one before.
        self.assertLess(result.stdout.index("b_big.bin"), result.stdout.index("meg/min"))

    def test_immediate_mode_skips_the_count(self):
        self.write("src/a.txt", "a")
        result = self.walk()
        self.assertNotIn("Counting files", result.stderr)
        self.assertIn(" 1 of 0 files:", result.stdout)

    def test_too_little_free_space_warns_and_copies_anyway(self):

        skip_under_wine("free space comes from a Linux preload shim")
        mnt = self.path("small")
        os.makedirs(mnt)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mnt],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if not mounted:
            self.skipTest("a small tmpfs cannot be mounted here (needs root)")
        self.addCleanup(subprocess.run, ["umount", mnt])
        self.write("src/big.bin", os.urandom(100 * 1024))
        self.write("src/small.txt", "s")
        result = run(["-p", self.src, "-d", os.path.join(mnt, "out"), "-m"])
        m = re.search(r"\nFree space on (\S+) is +(\d+)\nSize for full copy is +(\d+)\n", result.stdout)
        self.assertIsNotNone(m, repr(result))
        self.assertEqual(m.group(1), mnt)
        self.assertEqual(int(m.group(3)), 100 * 1024 + 1)
        self.assertIn("You may not have enough free space. Pausing 10 seconds.", result.stdout)
        # The run goes on: what fits is copied, what does not is reported.
        self.assertTrue(os.path.exists(os.path.join(mnt, "out", "small.txt")))
        self.assertIn("NOT COPIED (error)", result.stdout)
        self.assertIn(" (No space left on device)", result.stdout)
        self.assertStatus(result, 9)
        self.assertEqual([n for n in os.listdir(os.path.join(mnt, "out")) if n != "small.txt"], [])


if __name__ == "__main__":
    unittest.main()
