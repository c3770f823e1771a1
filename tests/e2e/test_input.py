"""Input read as meant: switches and numbers in every place a user writes
them, list files with stray NUL bytes, and bypass entries."""

import os
import shutil

from test_ini import IniCase
from veldro_e2e import TreeCase, run, skip_under_wine


class IniSwitches(IniCase):
    def test_off_words_switch_off_and_other_values_are_refused(self):
        self.write("src/sub/same.txt", b"second")
        self.write("src/same.txt", b"first")
        base = "PATH=%s\nDEST=%s\nMAKE=YES\n" % (self.src, self.dst)
        for line, expected in [("FLAT=NO", ["a.txt", "same.txt", "sub/b.txt", "sub/same.txt"]),
                               ("LIST_ONLY=NO\nRECURSE=0", ["a.txt", "same.txt"])]:
            with self.subTest(line=line):
                shutil.rmtree(self.dst, True)
                self.write_ini(base + line + "\n")
                r = self.run_own(["-A", "-i"])
                self.assertStatus(r, 0)
                self.assertEqual(self.copied(), expected)
        self.write_ini(base + "SILENT=MAYBE\n")
        r = self.run_own(["-A", "-i"])
        self.assertStatus(r, 6)
        self.assertIn("Illegal value in ini file line 4: SILENT=MAYBE", r.stderr)


class Numbers(TreeCase):
    def test_sizes_take_suffixes_and_other_text_is_refused(self):
        self.write("src/a.txt", b"0123456789")
        src, dst = self.path("src"), self.path("dst")
        r = run(["-p", src, "-d", dst, "-m", "-i", "-L", "1k"])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(os.path.join(dst, "a.txt")))
        for args in (["-G", "abc"], ["--LESSTHAN=1X"], ["--FLAT=2x"], ["-w", "7O"], ["-g", "3d"], ["--RET=x"]):
            with self.subTest(args=args):
                r = run(["-p", src, "-d", dst, "-m", "-i"] + args)
                self.assertStatus(r, 6)
                self.assertIn("Illegal", r.text)


class ListsWithNul(TreeCase):
    def test_a_line_holding_nul_is_named_and_left_out(self):
        self.write("src/a.doc", b"doc")
        self.write("src/b.txt", b"txt")
        src, dst = self.path("src"), self.path("dst")
        cases = [
            ("-F", b"*.doc\0\n*.txt\n", "Line 1 of the file type list", ["-p", src]),
            ("-S", os.fsencode(self.path("src", "a.doc")) + b"\0\n" + os.fsencode(self.path("src", "b.txt")) + b"\n",
             "Line 1 of the file list", ["-p", src]),
        ]
        for option, text, message, more in cases:
            with self.subTest(option=option):
                shutil.rmtree(dst, True)
                listing = self.write("list.txt", text)
                r = run(more + ["-d", dst, "-m", "-i", option, listing])
                self.assertStatus(r, 0)
                self.assertIn(message + " holds a NUL byte and is left out", r.stderr)
                copied = [os.path.basename(f) for _, _, files in os.walk(dst) for f in files]
                self.assertEqual(copied, ["b.txt"])


class Bypass(TreeCase):
    def test_an_entry_covers_its_directory_only_and_is_reported(self):
        skip_under_wine("a bypass entry ignores letter case on Windows")
        for rel in ("case/in.txt", "case/sub/deep.txt", "case_files/a.txt", "CASE2/b.txt", "Case/c.txt"):
            self.write("src/" + rel, rel)
        src, dst, log = self.path("src"), self.path("dst"), self.path("RUN.LOG")
        r = run(["-p", src, "-d", dst, "-m", "-i", "--BYP=" + os.path.join(src, "case"), "-1", log])
        self.assertStatus(r, 0)
        copied = sorted(os.path.relpath(os.path.join(d, f), dst) for d, _, files in os.walk(dst) for f in files)
        self.assertEqual(copied, ["CASE2/b.txt", "Case/c.txt", "case_files/a.txt"])
        line = "BYPASSED DIRECTORY: " + os.path.join(src, "case") + "\n"
        self.assertEqual(r.stdout.count(line), 1)
        with open(log, encoding="utf-8") as f:
            self.assertEqual(f.read().count(line), 1)
