"""The console on a terminal: the live status line, --QUIET, holds that
never slow the work, and messages that name the cause."""

import glob
import os
import re
import subprocess

from veldro_e2e import PtyRun, TreeCase, preloaded_env, run, skip_under_wine

STATUS = re.compile(r" [\d,]+ of [\d,]+ files \| [\d,]+ of [\d,]+ MB \(\d+%\)[^\r\n]*")
ELAPSED = re.compile(r"Elapsed time:\s+(\d+) hrs\. (\d+) mins\. (\d+) secs\.")


def elapsed_seconds(text):
    h, m, s = (int(x) for x in ELAPSED.search(text).groups())
    return h * 3600 + m * 60 + s


class LiveConsole(TreeCase):
    def setUp(self):
        super().setUp()
        self.write("SRC/a/one.txt", b"one")
        self.write("SRC/a/two.txt", b"two")
        # Large enough to be named on the status line.
        self.write("SRC/image.dd", os.urandom(1 << 20) * 64)

    def args(self, dest, *more):
        return ["-p", "SRC", "-d", dest, "-m", "-1", dest + ".LOG!255", "-H", dest + "_HASH.TXT", "--SHA5",
                "--THREADS=1"] + list(more)

    def test_status_line_only_on_a_terminal_and_erased_before_any_other_line(self):
        # Its copy slowed as on a slow drive: a fast machine would finish it between two status lines.
        p = PtyRun(self.args("TTY"), cwd=self.tmp, env=preloaded_env("slow_copy.c", "slow-copy"))
        self.assertEqual(p.wait(120), 0, p.text[-2000:])
        drawn = list(STATUS.finditer(p.text))
        self.assertTrue(drawn, p.text[-2000:])
        self.assertTrue(any("image.dd" in m.group(0) for m in drawn))
        for m in drawn:
            # Nothing follows a status line but the sequence that erases it.
            self.assertTrue(p.text.startswith("\r\x1b[K", m.end()), repr(p.text[m.start():m.end() + 40]))

        r = run(self.args("REDIRECTED"), cwd=self.tmp)
        self.assertStatus(r, 0)
        self.assertNotIn(" files | ", r.text)
        self.assertNotIn("\x1b[K", r.text)
        for log in glob.glob(self.path("TTY*")) + glob.glob(self.path("REDIRECTED*")):
            if os.path.isfile(log):
                with open(log, "rb") as f:
                    self.assertNotIn(b" files | ", f.read(), log)

    def test_quiet_drops_the_lines_of_each_file_and_the_status_line(self):
        p = PtyRun(self.args("QUIET", "--QUIET"), cwd=self.tmp)
        self.assertEqual(p.wait(120), 0, p.text[-2000:])
        for per_file in (" files | ", "HASHING:", "[NEW FILE]", "one.txt"):
            self.assertNotIn(per_file, p.text)
        self.assertIn("Copied             3 files", p.text)
        self.assertIn("one.txt", self.read("QUIET_HASH.TXT").decode())


class Holds(TreeCase):
    def test_holds_keep_back_the_screen_not_the_work_and_every_line_in_order(self):
        # Each log opened holds the screen a second, a -p naming a file three.
        self.write("SRC/one.txt", b"one")
        args = ["-p", "SRC/one.txt", "-d", "DST", "-m", "-1", "RUN.LOG!255", "-E", "ERR.LOG"]
        p = PtyRun(args, cwd=self.tmp)
        self.assertEqual(p.wait(120), 0, p.text[-2000:])
        r = run(args, cwd=self.tmp)
        self.assertStatus(r, 0)
        self.assertLessEqual(elapsed_seconds(p.text), elapsed_seconds(r.stdout) + 2, p.text)
        opened = [line for line in p.text.replace("\r", "").split("\n") if line.startswith("Opened ")]
        self.assertGreaterEqual(len(opened), 5, p.text)
        self.assertEqual(opened, [line for line in r.text.split("\n") if line.startswith("Opened ")])


class Causes(TreeCase):
    def test_a_read_only_destination_is_a_failed_copy_with_its_reason(self):
        skip_under_wine("a Linux tmpfs mount")
        if os.geteuid() != 0:
            self.skipTest("mounting a read-only file system needs root")
        mnt = self.path("ro")
        os.makedirs(mnt)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mnt], capture_output=True).returncode:
            self.skipTest("a tmpfs could not be mounted")
        self.addCleanup(subprocess.run, ["umount", "-l", mnt], capture_output=True)
        os.makedirs(os.path.join(mnt, "dst"))
        subprocess.run(["mount", "-o", "remount,ro", mnt], check=True)
        self.write("SRC/a.txt", b"a")

        r = run(["-p", "SRC", "-d", "ro/dst", "-H", "HASH.TXT"], cwd=self.tmp)
        self.assertStatus(r, 9)
        self.assertIn(" NOT COPIED (error) to %s (Read-only file system)\n" % self.path("ro/dst/a.txt"), r.stdout)
        self.assertNotIn("HASH ERROR", r.text)
        self.assertNotIn("DIDN'T MATCH", r.text + self.read("HASH.TXT").decode())

        r = run(["-p", "SRC", "-d", "ro/new", "-m"], cwd=self.tmp)
        self.assertStatus(r, 4)
        self.assertIn("Can't create the destination directory %s (Read-only file system)" % self.path("ro/new"),
                      r.stderr)
