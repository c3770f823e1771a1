"""The INI file: found beside the program or as the [BASE] section of
KANDRELX.INI, read up to its first empty line, echoed, and overridden by
the command line, which it overrides in turn for the environment."""

import os
import re
import shutil
import subprocess
import unittest

from veldro_e2e import UNDER_WINE, Result, TreeCase, clean_env, program, run


class IniCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.write("src/a.txt", b"alpha")
        self.write("src/sub/b.txt", b"bravo")
        self.src = self.path("src")
        self.dst = self.path("dst")
        # A copy of the program of its own, so that its INI file touches
        # nobody else's runs.
        os.makedirs(self.path("bin"))
        self.binary = self.path("bin", "veldro")
        if UNDER_WINE:
            # The Windows program looks for the INI file beside itself.
            shutil.copy2(os.environ["VELDRO_EXE"], self.binary + ".exe")
        else:
            shutil.copy2(program(), self.binary)

    def write_ini(self, text, name=None):
        path = name or self.binary + ".ini"
        if UNDER_WINE:
            text = re.sub(r"(?<=[=\s])/\S*", lambda m: "Z:" + m.group(0).replace("/", "\\"), text)
        with open(path, "wb") as f:
            f.write(text.encode())
        return path

    def run_own(self, args, env=None, cwd=None):
        env = env if env is not None else clean_env()
        command = [self.binary]
        if UNDER_WINE:
            command = [program()]
            env = dict(env, VELDRO_EXE=self.binary + ".exe")
        proc = subprocess.run(command + list(args), cwd=cwd or self.tmp, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        return Result(proc.returncode, proc.stdout, proc.stderr)

    def copied(self):
        found = []
        for root, _, files in os.walk(self.dst):
            for name in files:
                found.append(os.path.relpath(os.path.join(root, name), self.dst))
        return sorted(found)


class FindingAndReading(IniCase):
    def test_file_beside_the_program_gives_path_and_destination(self):
        # The last line has no line end and must keep its last character.
        ini = self.write_ini("; case 17\nDEST=%s\nIMMED=ON\nMAKE=1\nPATH=%s" % (self.dst, self.src))
        r = self.run_own(["-A"])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/b.txt"])
        self.assertIn("\n\nINI PROCESSED\n", r.stderr)
        self.assertIn('\n INI FILE USED: "%s" ' % ini, r.stdout)
        self.assertIn("\n IMMED=ON", r.stdout)
        self.assertNotIn("; CASE 17", r.stdout)

    def test_crlf_lines_and_comments(self):
        self.write_ini("# settings\r\nPATH=%s\r\nDEST=%s\r\n" % (self.src, self.dst))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/b.txt"])

    def test_an_empty_line_ends_the_settings(self):
        self.write_ini("PATH=%s\n\nDEST=%s\n" % (self.src, self.dst))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 6)
        self.assertIn("You forgot to enter", r.stdout)

    def test_shared_file_in_the_working_directory(self):
        self.write_ini("[OTHER]\nDEST=%s\n[BASE]\nPATH=%s\nDEST=%s\n[BASE]\nPATH=/nowhere\n"
                       % (self.path("wrong"), self.src, self.dst), name=self.path("KANDRELX.INI"))
        r = self.run_own(["-m", "-i"], cwd=self.tmp)
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/b.txt"])
        self.assertFalse(os.path.exists(self.path("wrong")))
        self.assertIn("INI PROCESSED", r.stderr)

    def test_own_file_comes_before_the_shared_one(self):
        self.write_ini("PATH=%s\nDEST=%s\n" % (self.src, self.dst))
        self.write_ini("[BASE]\nDEST=%s\n" % self.path("wrong"), name=self.path("KANDRELX.INI"))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertFalse(os.path.exists(self.path("wrong")))

    def test_utf16_file_is_read_whole_or_refused_whole(self):
        ini = self.write_ini("PATH=%s\r\nDEST=%s\r\n" % (self.src, self.dst))
        with open(ini, "rb") as f:
            text = f.read().decode()
        with open(ini, "wb") as f:
            f.write(("\ufeff" + text).encode("utf-16-le"))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/b.txt"])
        shutil.rmtree(self.dst)
        with open(ini, "ab") as f:
            f.write(b"X")
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 6)
        self.assertIn("can't be read", r.stderr)
        self.assertFalse(os.path.exists(self.dst))

    def test_no_ini_file_is_no_error(self):
        r = self.run_own(["-p", self.src, "-d", self.dst, "-m", "-i"])
        self.assertStatus(r, 0)
        self.assertNotIn("INI PROCESSED", r.stderr)
        self.assertNotIn("INI FILE USED", r.stdout)

    def test_missing_value_is_reported_and_reading_goes_on(self):
        self.write_ini("WIDTH\nPATH=%s\nDEST=%s\n" % (self.src, self.dst))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertIn("\nMissing ini directive WIDTH", r.stdout)
        self.assertEqual(self.copied(), ["a.txt", "sub/b.txt"])


class Directives(IniCase):
    def test_a_path_holding_a_directive_word_is_a_path(self):
        self.write("APPEND/NODUPE/x.txt", b"x")
        self.write_ini("PATH=%s\nDEST=%s\n" % (self.path("APPEND", "NODUPE"), self.dst))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["x.txt"])

    def test_a_log_name_holding_off_opens_the_log(self):
        self.write_ini("LOGFILE=%s!2\nPATH=%s\nDEST=%s\n"
                       % (self.path("OFFICE", "RUN.LOG"), self.src, self.dst))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertTrue(os.path.exists(self.path("OFFICE", "RUN.LOG")))
        self.assertTrue(os.path.exists(self.path("OFFICE", "RUN_LIST.LOG")))
        # INI names carry no abort marker, before or after the run.
        self.assertFalse(os.path.exists(self.path("OFFICE", "RUN.LOGX")))

    def test_logfile_off_names_no_log(self):
        self.write_ini("LOGFILE=OFF\nPATH=%s\nDEST=%s\n" % (self.src, self.dst))
        r = self.run_own(["-m", "-i"])
        self.assertStatus(r, 0)
        self.assertFalse(os.path.exists(self.path("OFF")))

    def test_reset_no_turns_resetting_off(self):
        for value, on in (("NO", False), ("OFF", False), ("0", False), ("YES", True), ("1", True)):
            self.write_ini("RESET=%s\nPATH=%s\nDEST=%s\n" % (value, self.src, self.dst))
            r = self.run_own(["-m", "-i"])
            self.assertStatus(r, 0)
            self.assertEqual("RESET filetimes is ON" in r.stdout, on, value)

    def test_exclusions_and_types_on_the_command_line_still_apply(self):
        self.write_ini("PATH=%s\nDEST=%s\nMAKE=1\n" % (self.src, self.dst))
        r = self.run_own(["-i", "-f", "a.*"])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt"])


class OrderOfPreference(IniCase):
    def test_ini_overrides_the_environment(self):
        self.write_ini("RESET=OFF\nPATH=%s\nDEST=%s\n" % (self.src, self.dst))
        r = self.run_own(["-m", "-i"], env=clean_env(RESET="ON"))
        self.assertNotIn("RESET filetimes is ON", r.stdout)

    def test_command_line_overrides_the_ini_file(self):
        self.write_ini("RESET=OFF\nSILENT=ON\nPATH=%s\nDEST=%s\n" % (self.src, self.dst))
        r = self.run_own(["-m", "-i", "-R", "--SIL=OFF"])
        self.assertStatus(r, 0)
        self.assertIn("RESET filetimes is ON", r.stdout)
        # Not silent: the run header is shown.
        self.assertIn(" Started ", r.stdout)
        r = self.run_own(["-m", "-i"])
        self.assertNotIn(" Started ", r.stdout)

    def test_command_line_destination_replaces_the_ini_one(self):
        self.write_ini("PATH=%s\nDEST=%s\n" % (self.src, self.path("wrong")))
        r = self.run_own(["-m", "-i", "-d", self.dst])
        self.assertStatus(r, 0)
        self.assertEqual(self.copied(), ["a.txt", "sub/b.txt"])
        self.assertFalse(os.path.exists(self.path("wrong")))

    def test_plus_a_turns_off_what_the_ini_file_turned_on(self):
        self.write_ini("NODUPE=OFF\nPATH=%s\nDEST=%s\n" % (self.src, self.dst))
        self.write("dst/a.txt", b"newer copy")
        os.utime(self.path("dst", "a.txt"), (2_000_000_000, 2_000_000_000))
        r = self.run_own(["-m", "-i", "+A"])
        self.assertStatus(r, 0)
        self.assertEqual(self.read("dst/a.txt"), b"newer copy")
        r = self.run_own(["-m", "-i"])
        self.assertEqual(self.read("dst/a.txt"), b"alpha")


if __name__ == "__main__":
    unittest.main()
