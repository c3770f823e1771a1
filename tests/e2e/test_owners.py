"""Owners, modes and last-access times, as root and as nobody."""

import os
import shutil
import stat
import subprocess
import xml.etree.ElementTree as ET

from veldro_e2e import TreeCase, skip_under_wine
from test_manifests import DF, SCHEMA, VX

NOBODY = 65534
OLD_NS = 1_577_836_800 * 10**9  # 2020-01-01: a relatime mount moves it on a read
WARNING = ("the last-access times of files you do not own will move: run as root, or mount the source read-only "
           "with noatime")


class OwnersAndAccess(TreeCase):
    def setUp(self):
        super().setUp()
        skip_under_wine("Linux owners and modes")
        if os.geteuid() != 0:
            self.skipTest("giving files to nobody, and running as nobody, needs root")
        os.chmod(self.tmp, 0o755)

    def veldro(self, args, as_nobody):
        for name in ("dst", "logs"):
            os.makedirs(self.path(name), exist_ok=True)
            os.chmod(self.path(name), 0o777)
        who = {"user": NOBODY, "group": NOBODY, "extra_groups": []} if as_nobody else {}
        return subprocess.run([os.environ["VELDRO_BIN"], "-p", self.path("src"), "-d", self.path("dst"), "-m",
                               "-1", self.path("logs", "RUN.LOG"), "--DFXML=" + self.path("logs", "run.xml"),
                               "--REPORT=" + self.path("logs", "report.html")] + args,
                              capture_output=True, text=True, errors="replace", **who)

    def text(self, log):
        with open(self.path("logs", log)) as f:
            return f.read()

    def owner_and_mode(self, *rel):
        st = os.lstat(self.path(*rel))
        return st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)

    def source(self, rel, mode, owner=0):
        full = self.write("src/" + rel, b"evidence " + rel.encode(), mtime_ns=OLD_NS - 10**9, atime_ns=OLD_NS)
        os.chown(full, owner, owner)
        os.chmod(full, mode)

    def test_as_root_copies_keep_owner_group_and_every_mode_bit(self):
        if shutil.which("xmllint") is None or not os.path.exists(SCHEMA):
            self.skipTest("xmllint and the DFXML schema (" + SCHEMA + ") are needed")
        files = {"setuid": 0o4755, "setgid": 0o2750, "sticky": 0o1704}
        for rel, mode in files.items():
            self.source(rel, mode, NOBODY)
        os.symlink("setuid", self.path("src", "link"))
        os.lchown(self.path("src", "link"), NOBODY, NOBODY)
        proc = self.veldro(["-H", self.path("logs", "HASH.TXT")], as_nobody=False)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        self.assertNotIn(WARNING, proc.stderr)
        for rel, mode in list(files.items()) + [("link", 0o777)]:
            self.assertEqual(self.owner_and_mode("dst", rel), (NOBODY, NOBODY, mode), rel)

        check = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, self.path("logs", "run.xml")],
                               capture_output=True)
        self.assertEqual(check.returncode, 0, check.stderr.decode())
        root = ET.parse(self.path("logs", "run.xml")).getroot()
        objects = {os.path.basename(o.find(DF + "filename").text): o for o in root.findall(DF + "fileobject")}
        for rel, mode in list(files.items()) + [("link", None)]:
            st = os.lstat(self.path("src", rel))
            fields = {k: objects[rel].find(DF + k).text for k in ("name_type", "inode", "mode", "nlink", "uid", "gid")}
            self.assertEqual(fields, {"name_type": "l" if mode is None else "r", "inode": str(st.st_ino),
                                      "mode": str(stat.S_IMODE(st.st_mode)), "nlink": str(st.st_nlink),
                                      "uid": str(NOBODY), "gid": str(NOBODY)}, rel)
        self.assertEqual(objects["link"].find(DF + "link_target").text, "setuid")
        self.assertEqual(root.find(VX + "sources_atime_moved").text, "0")
        self.assertIn("kept: every copy has its source", self.text("report.html"))

    def test_as_nobody_the_bits_it_may_set_and_the_moved_access_times_are_told(self):
        self.source("root_setuid", 0o4755)
        self.source("own_setgid", 0o2775, NOBODY)
        for reset in (False, True):
            with self.subTest(reset=reset):
                for rel in ("root_setuid", "own_setgid"):
                    os.utime(self.path("src", rel), ns=(OLD_NS, OLD_NS - 10**9))
                shutil.rmtree(self.path("dst"), ignore_errors=True)
                shutil.rmtree(self.path("logs"), ignore_errors=True)
                proc = self.veldro(["-R"] if reset else [], as_nobody=True)
                out = proc.stdout + proc.stderr
                # The copies are good: moved access times alone do not fail the run.
                self.assertEqual(proc.returncode, 0, out)
                self.assertEqual(proc.stderr.count(WARNING), 1, out)
                self.assertEqual(reset, "Can't reset filetime" in proc.stderr, out)
                # Only root's file moved: nobody's own is read with O_NOATIME.
                moved = [os.stat(self.path("src", rel)).st_atime_ns != OLD_NS for rel in ("root_setuid", "own_setgid")]
                self.assertEqual(moved, [True, False])
                self.assertIn("  Last access MOVED 1 sources\n", proc.stdout)
                self.assertRegex(self.text("RUN.LOG"), WARNING + r"(.|\n)*\n Last access MOVED +1 sources\n")
                self.assertIn("<veldro:sources_atime_moved>1</veldro:sources_atime_moved>", self.text("run.xml"))
                self.assertRegex(self.text("report.html"), r"<b>moved</b> on 1 sources(.|\n)*<b>not kept</b> on 1")
                self.assertEqual(self.owner_and_mode("dst", "root_setuid"), (NOBODY, NOBODY, 0o755))
                self.assertEqual(self.owner_and_mode("dst", "own_setgid"), (NOBODY, NOBODY, 0o2775))
