"""The run as a whole: start, destination check, summaries, exit statuses,
SILENT, RESET, the abort marker and interrupts."""

import os
import shutil
import subprocess
import time
import unittest

from veldro_e2e import PtyRun, TreeCase, clean_env, program, run, skip_under_wine


class StartAndEnd(TreeCase):
    def test_no_arguments_shows_usage_and_succeeds(self):
        r = run([])
        self.assertStatus(r, 0)
        self.assertIn("Usage: veldro", r.stdout)
        self.assertNotIn("Processed", r.text)

    def test_unknown_letter_fails_with_status_6(self):
        r = run(["-Q"])
        self.assertStatus(r, 6)

    def test_normal_run_ends_with_summary_and_status_0(self):
        os.makedirs(self.path("src"))
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m"])
        self.assertStatus(r, 0)
        self.assertIn("\n  Processed          0 files.            0 bytes", r.stdout)
        self.assertIn("\n  Copied             0 files,            0 bytes: \n", r.stdout)
        self.assertIn("  Updated: 0,    New: 0\n", r.stdout)
        # Start and end are whole clock seconds: an empty run may cross one.
        self.assertRegex(r.stdout, r"  Elapsed time:   0 hrs\. 0 mins\. [01] secs\.\n\n")
        self.assertNotIn("Abnormal termination", r.text)
        self.assertNotIn("Program Not completed", r.text)
        self.assertTrue(os.path.isdir(self.path("dst")))

    def test_banner_shows_name_and_version(self):
        os.makedirs(self.path("src"))
        dfxml = self.path("run.xml")
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "--DFXML=" + dfxml])
        self.assertIn("VELDRO", r.stderr)
        # One version: --version, the banner and the DFXML creator say the same.
        version = run(["--version"]).stdout.split()[2]
        self.assertRegex(version, r"^\d+\.\d+\.\d+$")
        self.assertIn("Ver. %s (32 bit_unicode)" % version, r.stderr)
        with open(dfxml, encoding="utf-8") as f:
            self.assertIn("<version>%s</version>" % version, f.read())
        self.assertIn("\u2554" + "\u2550" * 74 + "\u2557", r.stderr)

    def test_missing_destination_option_fails(self):
        os.makedirs(self.path("src"))
        r = run(["-p", self.path("src")])
        self.assertStatus(r, 6)
        self.assertIn("You forgot to enter either a -p (path) or -d (destination)", r.stdout)
        self.assertIn("Program Not completed ILLEGAL or INCOMPLETE OPTION", r.stdout)

    def test_positional_source_and_destination_need_d(self):
        os.makedirs(self.path("src"))
        r = run([self.path("src"), self.path("dst"), "-A"])
        self.assertStatus(r, 6)
        r = run([self.path("src"), self.path("dst"), "-d", self.path("dst"), "-m"])
        self.assertStatus(r, 0)

    def test_missing_source_is_an_input_error(self):
        r = run(["-p", self.path("nothing"), "-d", self.path("dst"), "-m"])
        self.assertStatus(r, 3)
        self.assertIn("Can't find a file or folder of the name", r.stdout)

    def test_current_directory_is_the_default_source(self):
        # -p with no path after it names no root: the working directory is walked.
        self.write("cwd/a.txt", b"abc")
        r = run(["-d", self.path("dst"), "-m", "-p"], cwd=self.path("cwd"))
        self.assertStatus(r, 0)
        copied = self.path("dst", "a.txt")
        self.assertTrue(os.path.exists(copied), repr(r))


    def test_a_closed_console_does_not_end_the_run(self):
        skip_under_wine("a console pipe closed by its reader")
        for i in range(200):
            self.write(f"src/f{i}.txt", b"data %d" % i)
        proc = subprocess.Popen([program(), "-p", self.path("src"), "-d", self.path("dst"), "-m",
                                 "-H", self.path("hash.txt")], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                env=clean_env())
        proc.stdout.close()  # nobody reads the console any more
        self.assertEqual(proc.wait(timeout=60), 0)
        self.assertEqual(len(os.listdir(self.path("dst"))), 200)
        with open(self.path("hash.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read().count("[OK]"), 200)


class DurableEnd(TreeCase):
    def test_copies_and_logs_are_on_the_drive_when_the_run_returns(self):
        # The destination is an ext4 image on a loop device: a copy of the
        # image taken as the run returns, before anything else syncs, holds
        # what the page cache would otherwise still keep back.
        image, snapshot = self.path("disk.img"), self.path("snapshot.img")
        mnt = self.mount_ext4(image, 64)
        for i in range(20):
            self.write(f"src/f{i}.bin", os.urandom(100_000))
        r = run(["-p", self.path("src"), "-d", os.path.join(mnt, "dst"), "-m", "-1",
                 os.path.join(mnt, "RUN.LOG") + "!4", "-H", os.path.join(mnt, "HASH.TXT")])
        self.assertStatus(r, 0)
        shutil.copyfile(image, snapshot)
        seen = self.path("seen")
        os.makedirs(seen)
        subprocess.run(["mount", "-o", "loop,ro,noload", snapshot, seen], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", seen], capture_output=True)
        for name in ("dst", "RUN.LOG", "RUN_COPIED.LOG", "HASH.TXT"):
            with self.subTest(name=name):
                self.assertEqual(subprocess.run(["diff", "-r", os.path.join(mnt, name), os.path.join(seen, name)],
                                                capture_output=True).returncode, 0)
        self.assertIn("flushed to their drives", r.stdout)


class Environment(TreeCase):
    def setUp(self):
        super().setUp()
        os.makedirs(self.path("src"))

    def test_silent_suppresses_both_console_summaries(self):
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m"], env=clean_env(SILENT="on"))
        self.assertStatus(r, 0)
        self.assertNotIn("Processed", r.stdout)
        self.assertNotIn("Elapsed time", r.stdout)

    def test_silent_without_the_letters_on_keeps_summaries(self):
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m"], env=clean_env(SILENT="yes"))
        self.assertIn("Processed", r.stdout)

    def test_reset_on_in_any_case_announces_reset(self):
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m"], env=clean_env(RESET="oN"))
        self.assertIn("Filetime Options RESET is ON.", r.stderr)
        self.assertIn("RESET filetimes is ON", r.stdout)

    def test_reset_yes_leaves_reset_off(self):
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m"], env=clean_env(RESET="YES"))
        self.assertNotIn("Filetime Options RESET is ON.", r.stderr)


class DestinationQuestion(TreeCase):
    def setUp(self):
        super().setUp()
        os.makedirs(self.path("src"))

    def start(self):
        return PtyRun(["-p", self.path("src"), "-d", self.path("dst")], env=clean_env(NO_COLOR="1"))

    def test_yes_creates_the_destination(self):
        p = self.start()
        p.read_until("[Y/N]")
        p.send("y")
        self.assertEqual(p.wait(), 0, p.text)
        self.assertIn("Doesn't appear to exist.", p.text)
        self.assertTrue(os.path.isdir(self.path("dst")))

    def test_other_keys_ask_again_and_no_aborts(self):
        p = self.start()
        p.read_until("[Y/N]")
        p.send("x")
        time.sleep(0.3)
        p.read_until("[Y/N]")
        p.send("n")
        self.assertEqual(p.wait(), 2, p.text)
        self.assertEqual(p.text.count("Should I create the directory [Y/N]"), 2)
        self.assertIn("Abnormal termination. Reason: USER_ABORTED", p.text)
        # The console's last line ends with a line end, as every other.
        self.assertTrue(p.text.endswith("Program Not completed USER_ABORTED\r\n"), p.text[-80:])
        self.assertFalse(os.path.exists(self.path("dst")))

    def test_interrupt_while_asking_ends_with_status_2(self):
        p = self.start()
        p.read_until("[Y/N]")
        p.interrupt()
        self.assertEqual(p.wait(), 2, p.text)
        self.assertIn("Abnormal termination. Reason: USER_ABORTED", p.text)
        self.assertIn("Program Not completed USER_ABORTED", p.text)

    def test_no_terminal_and_no_answer_refuses(self):
        r = run(["-p", self.path("src"), "-d", self.path("dst")])
        self.assertStatus(r, 2)
        self.assertFalse(os.path.exists(self.path("dst")))


class AbortMarker(TreeCase):
    def test_marker_is_gone_after_a_normal_run(self):
        os.makedirs(self.path("src"))
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-1", self.path("logs", "RUN.LOG")])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.path("logs", "RUN.LOG")), repr(r))
        self.assertFalse(os.path.exists(self.path("logs", "RUN.LOGX")))

    def test_marker_survives_an_aborted_run(self):
        os.makedirs(self.path("src"))
        p = PtyRun(["-p", self.path("src"), "-d", self.path("dst"), "-1", self.path("logs", "RUN.LOG")],
                   env=clean_env(NO_COLOR="1"))
        p.read_until("[Y/N]")
        p.send("n")
        self.assertEqual(p.wait(), 2, p.text)
        with open(self.path("logs", "RUN.LOGX"), "rb") as f:
            self.assertIn(b"IF YOU ARE READING THIS, THERE MAY HAVE BEEN AN UNUSUAL PROGRAM ABORT", f.read())
        with open(self.path("logs", "RUN.LOG"), "rb") as f:
            self.assertIn(b"\nABNORMAL TERMINATION\n", f.read())


if __name__ == "__main__":
    unittest.main()
