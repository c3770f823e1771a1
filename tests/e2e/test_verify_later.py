"""--VERIFY=FILE: an earlier run's copies checked against its hash log,
DFXML or audit set, months later and wherever they were moved."""

import os
import shutil
import subprocess
import unittest

from veldro_e2e import TreeCase, clean_env, program, run, skip_under_wine

RECORDS = ("HASH.TXT", "run.dfxml", "known.txt")


class VerifyLater(TreeCase):
    def setUp(self):
        super().setUp()
        skip_under_wine("runs the check as another user and names Linux paths")
        os.chmod(self.tmp, 0o755)
        for rel in ("a.txt", "sub/b.txt", "sub/c.txt", "d.txt", "sub/odd\tname|x"):
            self.write("src/" + rel, rel * 100)
        os.makedirs(self.path("logs"))
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-H", self.path("logs", "HASH.TXT"),
                 "--SHA2", "--DFXML=" + self.path("logs", "run.dfxml"),
                 "--AUDITSET=" + self.path("logs", "known.txt")])
        self.assertStatus(r, 0)
        os.chmod(self.path("logs"), 0o777)

    def verify(self, record, *extra, env=None):
        """The check, as nobody when run as root, so that a copy without
        read permission cannot be read."""
        args = [program(), "--VERIFY=" + self.path("logs", record)] + list(extra)
        proc = subprocess.run(args, capture_output=True, env=env or clean_env(),
                              user=65534 if os.geteuid() == 0 else None)
        return proc.returncode, proc.stdout.decode("utf-8", "surrogateescape")

    def tamper(self):
        with open(self.path("dst", "a.txt"), "ab") as f:
            f.write(b"TAMPERED")
        os.remove(self.path("dst", "sub", "b.txt"))
        self.write("dst/sub/new.txt", b"planted")
        os.chmod(self.path("dst", "d.txt"), 0)

    def test_each_record_kind_names_every_difference(self):
        self.tamper()
        dst = self.path("dst")
        for record in RECORDS:
            with self.subTest(record=record):
                status, out = self.verify(record)
                self.assertEqual(status, 9, out)
                self.assertIn(f"ALTERED    {dst}/a.txt\n           recorded MD5 ", out)
                self.assertIn(f"MISSING    {dst}/sub/b.txt\n", out)
                self.assertIn(f"UNREADABLE {dst}/d.txt (Permission denied)\n", out)
                self.assertIn(f"ADDED      {dst}/sub/new.txt\n", out)
                self.assertIn("5 copies named: 2 matched, 1 altered, 1 missing, 1 unreadable; 1 added", out)
                self.assertNotIn("odd", out)

    def test_a_moved_copy_is_found_below_the_new_root(self):
        shutil.move(self.path("dst"), self.path("moved"))
        for record in RECORDS:
            with self.subTest(record=record):
                status, out = self.verify(record, "-d", self.path("moved"))
                self.assertEqual(status, 0, out)
                self.assertIn("5 copies named: 5 matched, 0 altered, 0 missing, 0 unreadable; 0 added", out)
                status, out = self.verify(record)
                self.assertEqual(status, 9, out)
                self.assertIn("5 missing", out)

    def test_outputs_are_the_same_with_one_and_four_threads(self):
        self.tamper()
        outputs = []
        for threads in (1, 4):
            status, out = self.verify("run.dfxml", "-1", self.path("logs", "CHECK.LOG"),
                                      "--DFXML=" + self.path("logs", "check.dfxml"),
                                      "--REPORT=" + self.path("logs", "check.html"), env=clean_env(THREADS=threads))
            self.assertEqual(status, 9, out)
            files = []
            for name in ("CHECK_VERIFY.LOG", "check.dfxml", "check.html"):
                with open(self.path("logs", name), "rb") as f:
                    files.append(f.read())
                os.remove(self.path("logs", name))
            outputs.append((out, files))
        self.assertEqual(outputs[0], outputs[1])
        self.assertIn(b"<veldro:finding>altered</veldro:finding>", outputs[0][1][1])

    def test_a_record_that_is_not_one_is_refused(self):
        side = "  | " + "0" * 32 + " "
        cases = {
            "climbs.txt": f"\n/src/a{side}|{self.path('dst')}/../etc/passwd{side}|[OK]\n",
            "other.txt": "just some text\n",
        }
        for name, text in cases.items():
            with open(self.path("logs", name), "w", encoding="utf-8") as f:
                f.write(text)
        for name in list(cases) + ["absent.txt"]:
            with self.subTest(record=name):
                r = run(["--VERIFY=" + self.path("logs", name)])
                self.assertStatus(r, 6)
                self.assertIn("record", r.stdout)


if __name__ == "__main__":
    unittest.main()
