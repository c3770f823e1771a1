"""Verification of copies: the digests of both sides, the verdict, the
retries, the hash log with its SHA columns and its _ERROR and _RERUN
companions, and the --UNICODE record.

A mismatch is made with a real fault rather than a switch in the program: a
small preload library (support/corrupt_after_copy.c, built here with the
system's C compiler) inverts the first byte of a named destination file as
soon as its copy is complete (after the rename or link that gives the copy its
name), for a given number of copies. The program is unchanged; it meets a copy
that differs from its source exactly as it would on a faulty disk."""

import hashlib
import os
import shutil
import subprocess
import unittest

from veldro_e2e import TreeCase, clean_env, preload_library, run, skip_under_wine

HERE = os.path.dirname(os.path.abspath(__file__))


def corrupting_library():
    return preload_library("corrupt_after_copy.c", "corrupting")


def corrupting_env(name, times, **extra):
    asan = os.environ.get("ASAN_OPTIONS", "")
    return clean_env(LD_PRELOAD=corrupting_library(), VELDRO_TEST_CORRUPT_NAME=name,
                     VELDRO_TEST_CORRUPT_TIMES=str(times),
                     # A sanitizer build must accept a library loaded before its runtime.
                     ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0", **extra)


def md5(data):
    return hashlib.md5(data).hexdigest().upper()


def sha(kind, data):
    return hashlib.new(kind, data).hexdigest().upper()


class HashedCopy(TreeCase):
    def setUp(self):
        super().setUp()
        self.a = b"first file\n"
        self.b = b"second file, a little longer\n" * 100
        self.write("SRC/a.txt", self.a)
        self.write("SRC/sub/b.txt", self.b)

    def copy(self, *extra, env=None):
        return run(["-p", "SRC", "-d", "DST", "-m"] + list(extra), cwd=self.tmp,
                   env=env if env is not None else clean_env())

    def text(self, rel):
        return self.read(rel).decode("utf-8", "surrogateescape")

    def test_both_sides_with_every_sha_kind(self):
        r = self.copy("-H", "H/HASH.TXT", "--SHA1", "--SHA2", "--SHA3", "--SHA5")
        self.assertStatus(r, 0)
        self.assertEqual(r.stdout.count(" [OK]"), 2, r)
        self.assertNotIn("HASH ERROR", r.stdout)
        for rel in ("SRC/a.txt", "DST/a.txt", "SRC/sub/b.txt", "DST/sub/b.txt"):
            self.assertIn("\n HASHING: " + self.path(rel), r.stderr)
        self.assertIn("No apparent mismatches in the copied hashes\n", r.stderr)

        def part(rel, data):
            fields = self.path(rel) + "  | " + md5(data) + " "
            for kind in ("sha1", "sha256", "sha384", "sha512"):
                fields += " | " + sha(kind, data) + " "
            return fields

        expected = ("\n" + part("SRC/sub/b.txt", self.b) + "|" + part("DST/sub/b.txt", self.b) + "|[OK]" +
                    "\n" + part("SRC/a.txt", self.a) + "|" + part("DST/a.txt", self.a) + "|[OK]" +
                    "\nNo apparent mismatches in the copied hashes\n")
        self.assertEqual(self.text("H/HASH.TXT"), expected)
        self.assertEqual(self.read("H/HASH_ERROR.TXT"), b"")
        self.assertEqual(self.read("H/HASH_RERUN.TXT"), b"")

    def test_source_only_and_destination_only(self):
        r = self.copy("-hs=HS.TXT")
        self.assertStatus(r, 0)
        self.assertNotIn("[OK]", r.stdout)
        self.assertNotIn(self.path("DST/a.txt"), r.stderr.replace("==>", ""))
        self.assertIn("\n" + self.path("SRC/a.txt") + "  | " + md5(self.a) + " ", self.text("HS.TXT"))
        self.assertNotIn("DST", self.text("HS.TXT"))
        self.assertFalse(os.path.exists(self.path("HS_ERROR.TXT")))

        r = self.copy("-A", "-hd=HD.TXT")
        self.assertStatus(r, 0)
        self.assertNotIn("[OK]", r.stdout)
        self.assertIn("\n" + self.path("DST/a.txt") + "  | " + md5(self.a) + " ", self.text("HD.TXT"))
        self.assertNotIn("SRC", self.text("HD.TXT"))

    def test_copied_log_carries_the_source_digest(self):
        r = self.copy("-1", "RUN.LOG!4", "-H", "HASH.TXT")
        self.assertStatus(r, 0)
        lines = self.text("RUN_COPIED.LOG").split("\n")
        a_line = [line for line in lines if "|" + self.path("SRC/a.txt") + "|" in line]
        self.assertEqual(len(a_line), 1, lines)
        self.assertTrue(a_line[0].endswith("a|" + md5(self.a) + "|"), a_line[0])

    def test_corrupted_copy_repaired_by_a_retry(self):
        env = corrupting_env("a.txt", 1)
        r = self.copy("-H", "HASH.TXT", "--RET=2", env=env)
        self.assertStatus(r, 0)
        self.assertEqual(self.read("DST/a.txt"), self.a)
        self.assertIn("\nRetry #1\nCopy: " + self.path("SRC/a.txt") + "\nTo:   " + self.path("DST/a.txt") + "\n",
                      r.stdout, "no mismatch: did the preload library miss the call that names a finished copy?")
        self.assertNotIn("Retry #2", r.stdout)
        self.assertEqual(r.stdout.count(" [OK]"), 2, r)
        self.assertIn("No apparent mismatches in the copied hashes", self.text("HASH.TXT"))
        self.assertEqual(self.read("HASH_RERUN.TXT"), b"")

    def test_copy_still_wrong_after_retries(self):
        env = corrupting_env("a.txt", 99)
        r = self.copy("-H", "HASH.TXT", "--RET=2", env=env)
        # A copy that cannot be made right is no success.
        self.assertNotEqual(r.status, 0, r)
        self.assertIn("Retry #1", r.stdout)
        self.assertIn("Retry #2", r.stdout)
        self.assertNotIn("Retry #3", r.stdout)
        self.assertEqual(r.stdout.count(" [HASH ERROR]"), 1, r)
        self.assertEqual(r.stdout.count(" [OK]"), 1, r)
        bad = bytes([self.a[0] ^ 0xFF]) + self.a[1:]
        self.assertEqual(self.read("DST/a.txt"), bad)
        src, dst = self.path("SRC/a.txt"), self.path("DST/a.txt")
        log = self.text("HASH.TXT")
        self.assertIn("\n" + src + "  | " + md5(self.a) + " |" + dst + "  | " + md5(bad) + " |[HASH ERROR]", log)
        self.assertTrue(log.endswith("\nAT LEAST 1 HASHES DIDN'T MATCH\n"), log)
        self.assertIn("AT LEAST 1 HASHES DIDN'T MATCH", r.stderr)
        self.assertEqual(self.text("HASH_ERROR.TXT"),
                         src + "  | " + md5(self.a) + " |" + dst + "  | " + md5(bad) + " |ERROR\n")
        self.assertEqual(self.text("HASH_RERUN.TXT"), src + "  | " + md5(self.a) + "\n")

    def test_no_retry_without_ret(self):
        r = self.copy("-H", "HASH.TXT", env=corrupting_env("a.txt", 1))
        self.assertNotIn("Retry #", r.stdout)
        self.assertIn(" [HASH ERROR]", r.stdout)
        self.assertIn("AT LEAST 1 HASHES DIDN'T MATCH", self.text("HASH.TXT"))

    def test_unicode_record(self):

        skip_under_wine("the --UNICODE record keeps the long-path form of Windows paths")
        r = self.copy("-H", "HASH.TXT", "--SHA1", "--UNICODE=U.TXT")
        self.assertStatus(r, 0)
        data = self.read("U.TXT")
        self.assertEqual(data[:2], b"\xff\xfe")
        text = data[2:].decode("utf-16-le")
        src, dst = self.path("SRC/a.txt"), self.path("DST/a.txt")
        self.assertIn(src + "|" + md5(self.a) + "|" + dst + "|" + md5(self.a) + "| [OK]|SHA1|" +
                      sha("sha1", self.a) + "|\r\n", text)


class HashedNonAsciiNames(TreeCase):
    def test_names_in_hash_log_and_unicode_record(self):
        skip_under_wine("the --UNICODE record keeps the long-path form of Windows paths")
        name = "d\u00e9j\u00e0 \u65e5\u672c.txt"
        self.write("SRC/" + name, b"data")
        r = run(["-p", "SRC", "-d", "DST", "-m", "-H", "HASH.TXT", "--UNICODE=U.TXT"], cwd=self.tmp)
        self.assertStatus(r, 0)
        log = self.read("HASH.TXT").decode("utf-8")
        self.assertIn("\n" + self.path("SRC", name) + "  | " + md5(b"data") + " |" + self.path("DST", name) +
                      "  | " + md5(b"data") + " |[OK]", log)
        text = self.read("U.TXT")[2:].decode("utf-16-le")
        self.assertIn(self.path("SRC", name) + "|" + md5(b"data") + "|", text)


if __name__ == "__main__":
    unittest.main()


class VerifyMedia(TreeCase):
    def test_copies_are_read_back_from_the_device(self):
        # The destination is an ext4 image on a loop device, the sources lie
        # elsewhere: the device's count of sectors read shows whether the
        # read-back of the copies reached it or was served by the cache.
        image = self.path("disk.img")
        mnt = self.mount_ext4(image, 128)
        device = subprocess.run(["findmnt", "-n", "-o", "SOURCE", mnt], capture_output=True, text=True).stdout.strip()
        stat_file = os.path.join("/sys/block", os.path.basename(device), "stat")
        for i in range(6):  # large enough to be read back while copied, on 4 threads
            self.write(f"src/f{i}.bin", os.urandom(5 << 20))
        total = 6 * (5 << 20)

        def bytes_read_by(*extra):
            with open(stat_file) as f:
                before = int(f.read().split()[2])
            r = run(["-p", self.path("src"), "-d", os.path.join(mnt, extra[0]), "-m", "-H",
                     self.path(extra[0] + ".txt"), "--THREADS=4", *extra[1:]])
            self.assertStatus(r, 0)
            self.assertEqual(r.stdout.count("[OK]"), 6)
            with open(stat_file) as f:
                return (int(f.read().split()[2]) - before) * 512

        self.assertLess(bytes_read_by("cache"), total // 4)
        self.assertGreaterEqual(bytes_read_by("media", "--VERIFY_MEDIA"), total)
