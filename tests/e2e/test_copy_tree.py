"""Copying a tree: contents and times of every copy, reruns, the newer rule,
protected and read-only files, RESET, -M, special files and links, deep
trees and interrupts."""

import os
import re
import shutil
import stat
import struct
import subprocess
import time
import unittest

from veldro_e2e import PtyRun, TreeCase, clean_env, preloaded_env, run, skip_under_wine


def copied_count(result):
    m = re.search(r"Copied\s+(\d+) files", result.stdout)
    return int(m.group(1)) if m else None


class CopyCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.src = self.path("src")
        self.dst = self.path("dst")
        os.makedirs(self.src)

    def copy(self, *extra, env=None, log_mask=None):
        args = ["-p", self.src, "-d", self.dst, "-m", "-i"]
        if log_mask is not None:
            args += ["-1", self.path("logs", "run.log") + "!" + str(log_mask)]
        return run(args + list(extra), env=env)

    def not_copied_log(self):
        with open(self.path("logs", "run_NOT_COPIED.log"), "rb") as f:
            return f.read().decode("utf-8", "surrogateescape")

    def set_times(self, path, atime_ns, mtime_ns):
        os.utime(path, ns=(atime_ns, mtime_ns), follow_symlinks=False)


class CopyTreeTest(CopyCase):
    def test_every_copy_carries_contents_and_times_to_the_nanosecond(self):
        skip_under_wine("100-ns times and no last-access protection")
        names = {
            "empty.bin": b"",
            "one.txt": b"1",
            "page.bin": os.urandom(4097),
            "with space/big file.bin": os.urandom(3 * 1024 * 1024 + 3),
            "unicode é ü/日本語.txt": b"unicode",
            "a/b/c/d/e/deep.txt": b"deep",
        }
        stamp = 1_400_000_000_123_456_789
        for i, (rel, data) in enumerate(names.items()):
            full = self.write("src/" + rel, data)
            self.set_times(full, stamp + i * 1_000_000_007, stamp - i * 999_999_937)
        # A name that is not valid UTF-8 is copied as the bytes it is.
        raw = os.path.join(os.fsencode(self.src), b"bad\xff\xfename")
        with open(raw, "wb") as f:
            f.write(b"raw")
        self.set_times(raw, stamp + 5, stamp + 7)

        result = self.copy()
        self.assertStatus(result, 0)
        self.assertEqual(copied_count(result), len(names) + 1, repr(result))
        self.assertEqual(result.stdout.count("[NEW FILE]"), len(names) + 1)
        for rel, data in names.items():
            src, dst = os.path.join(self.src, rel), os.path.join(self.dst, rel)
            # Times first: reading the copy moves its last-access time.
            s, d = os.stat(src), os.stat(dst)
            self.assertEqual((d.st_atime_ns, d.st_mtime_ns), (s.st_atime_ns, s.st_mtime_ns), rel)
            self.assertEqual(self.read(os.path.join("dst", rel)), data, rel)
        copy = os.path.join(os.fsencode(self.dst), b"bad\xff\xfename")
        with open(copy, "rb") as f:
            self.assertEqual(f.read(), b"raw")
        self.assertEqual(os.stat(copy).st_mtime_ns, stamp + 7)
        # Nothing but the copies was left behind in the destination.
        left = [n for _, _, files in os.walk(self.dst) for n in files if n.startswith(".veldro")]
        self.assertEqual(left, [])

    def test_second_run_copies_nothing_and_a_newer_source_is_updated(self):
        self.write("src/a.txt", "a")
        self.write("src/sub/b.txt", "b")
        self.assertStatus(self.copy(), 0)
        again = self.copy(log_mask=8)
        self.assertStatus(again, 0)
        self.assertEqual(copied_count(again), 0)
        self.assertNotIn("[NEW FILE]", again.stdout)
        self.assertNotIn("[UPDATED]", again.stdout)
        log = self.not_copied_log()
        self.assertEqual(log.count("| reason: AGE Criteria"), 2, log)
        self.assertIn(os.path.join(self.src, "sub", "b.txt") + "| reason: AGE Criteria", log)

        later = os.stat(self.path("src", "a.txt")).st_mtime_ns + 1_000_000_000
        with open(self.path("src", "a.txt"), "w") as f:
            f.write("changed")
        self.set_times(self.path("src", "a.txt"), later, later)
        third = self.copy()
        self.assertEqual(third.stdout.count("[UPDATED]"), 1, repr(third))
        self.assertIn(os.path.join(self.dst, "a.txt") + "   [UPDATED]", third.stdout)
        self.assertEqual(self.read("dst/a.txt"), b"changed")

    def test_newer_rule_with_equal_older_and_newer_destinations(self):
        t = 1_600_000_000_000_000_000
        for name in ("equal", "older", "newer"):
            self.set_times(self.write("src/%s.txt" % name, "source"), t, t)
        os.makedirs(self.dst)
        self.set_times(self.write("dst/equal.txt", "dest"), t, t)
        self.set_times(self.write("dst/older.txt", "dest"), t, t - 100)
        self.set_times(self.write("dst/newer.txt", "dest"), t, t + 100)

        # Without the not-copied log an equal destination is not counted.
        quiet = self.copy()
        self.assertEqual(self.read("dst/older.txt"), b"source")
        self.assertEqual(self.read("dst/equal.txt"), b"dest")
        self.assertEqual(self.read("dst/newer.txt"), b"dest")
        self.assertIn("NOT processed      1 files of which 1 files are newer", quiet.stdout)

        logged = self.copy(log_mask=8)
        log = self.not_copied_log()
        self.assertIn("equal.txt| reason: AGE Criteria", log)
        self.assertIn("newer.txt| reason: AGE Criteria", log)
        self.assertIn("NOT processed      3 files of which 1 files are newer", logged.stdout)

        everything = self.copy("-A")
        self.assertEqual(copied_count(everything), 3)
        for name in ("equal", "older", "newer"):
            self.assertEqual(self.read("dst/%s.txt" % name), b"source")
            self.assertEqual(os.stat(self.path("dst", name + ".txt")).st_mtime_ns, t)

    def test_listing_only_copies_and_makes_nothing(self):
        self.write("src/sub/a.txt", "12345")
        short = self.copy("-n", log_mask=8)
        self.assertStatus(short, 0)
        self.assertIn(os.path.join(self.src, "sub", "a.txt") + " \n", short.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.dst, "sub")))
        self.assertIn("a.txt| reason: LISTING ONLY REQUESTED", self.not_copied_log())
        full = self.copy("-N")
        line = os.path.join(self.src, "sub", "a.txt") + " " + "%10s" % "5" + "   ==>   " + \
            os.path.join(self.dst, "sub", "a.txt")
        self.assertIn(line, full.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.dst, "sub")))

    def test_exist_only_copies_over_existing_copies_only(self):
        self.write("src/old.txt", "new data")
        self.write("src/sub/fresh.txt", "x")
        self.set_times(self.write("dst/old.txt", "stale"), 0, 1_000_000_000)
        result = self.copy("-e", log_mask=8)
        self.assertEqual(copied_count(result), 1)
        self.assertEqual(self.read("dst/old.txt"), b"new data")
        self.assertFalse(os.path.exists(self.path("dst", "sub", "fresh.txt")))
        # The directory is made all the same: the path is built first.
        self.assertTrue(os.path.isdir(self.path("dst", "sub")))
        self.assertIn("fresh.txt| reason: CRITERIA: destination not previously existing", self.not_copied_log())

    def test_attribute_filter_selects_read_only_files(self):

        skip_under_wine("read-only is set through Linux permissions")
        self.write("src/plain.txt", "p")
        ro = self.write("src/locked.txt", "l")
        os.chmod(ro, 0o444)
        result = self.copy("-ar", log_mask=8)
        self.assertEqual(copied_count(result), 1)
        self.assertTrue(os.path.exists(self.path("dst", "locked.txt")))
        self.assertFalse(os.path.exists(self.path("dst", "plain.txt")))
        self.assertIn("plain.txt| Attributes", self.not_copied_log())

    def test_read_only_source_gives_a_writable_copy_and_stays_as_it_was(self):
        ro = self.write("src/locked.txt", "l")
        os.chmod(ro, 0o444)
        self.assertStatus(self.copy(), 0)
        self.assertTrue(os.stat(self.path("dst", "locked.txt")).st_mode & stat.S_IWUSR)
        self.assertEqual(stat.S_IMODE(os.stat(ro).st_mode), 0o444)

    def test_protected_destination_needs_minus_o_and_keeps_its_attributes(self):
        t = 1_600_000_000_000_000_000
        self.set_times(self.write("src/a.txt", "new"), t, t)
        dest = self.write("dst/a.txt", "old")
        self.set_times(dest, t - 10**9, t - 10**9)
        os.chmod(dest, 0o444)

        refused = self.copy(log_mask=8 | 16)
        self.assertStatus(refused, 9)
        self.assertIn("NOT COPIED (error) to " + dest, refused.stdout)
        self.assertIn("a.txt| reason: ******** COPY ERROR *******", self.not_copied_log())
        self.assertEqual(self.read("dst/a.txt"), b"old")

        allowed = self.copy("-O")
        self.assertStatus(allowed, 0)
        self.assertEqual(self.read("dst/a.txt"), b"new")
        self.assertEqual(stat.S_IMODE(os.stat(dest).st_mode), 0o444)
        self.assertEqual(os.stat(dest).st_mtime_ns, t)

    def test_reset_leaves_the_source_as_it_was_found(self):

        skip_under_wine("100-ns times")
        src = self.write("src/a.txt", os.urandom(100000))
        self.set_times(src, 1_300_000_000_111_111_111, 1_200_000_000_222_222_222)
        before = os.stat(src)
        time.sleep(0.05)
        for env in (clean_env(RESET="ON"), clean_env()):
            result = self.copy("-A", env=env)
            self.assertStatus(result, 0)
            after = os.stat(src)
            self.assertEqual((after.st_atime_ns, after.st_mtime_ns, after.st_ctime_ns),
                             (before.st_atime_ns, before.st_mtime_ns, before.st_ctime_ns))
            copy = os.stat(self.path("dst", "a.txt"))
            self.assertEqual((copy.st_atime_ns, copy.st_mtime_ns), (before.st_atime_ns, before.st_mtime_ns))
        self.assertIn("Filetime Options RESET is ON", run(
            ["-p", self.src, "-d", self.dst, "-i", "-R"]).stderr)

    def test_special_files_and_link_loops_never_trap_the_walk(self):

        skip_under_wine("Linux-only file types, and links wine shows as plain files")
        self.write("src/a.txt", "a")
        os.mkfifo(self.path("src", "pipe"))
        os.makedirs(self.path("src", "d"))
        os.symlink("..", self.path("src", "d", "up"))
        os.symlink("../a.txt", self.path("src", "d", "to_file"))
        os.symlink("nowhere", self.path("src", "dangling"))
        self.set_times(self.path("src", "d", "to_file"), 1_000_000_000_000_000_001, 1_100_000_000_000_000_003)
        result = self.copy(log_mask=8)
        self.assertStatus(result, 0)
        self.assertIn(os.path.join(self.src, "pipe") + "| reason: NOT A REGULAR FILE", self.not_copied_log())
        self.assertFalse(os.path.lexists(self.path("dst", "pipe")))
        # A link copy has its source's own times (read before reading it).
        link = os.lstat(self.path("dst", "d", "to_file"))
        self.assertEqual((link.st_atime_ns, link.st_mtime_ns), (1_000_000_000_000_000_001, 1_100_000_000_000_000_003))
        source_link = os.lstat(self.path("src", "d", "to_file"))
        self.assertEqual(source_link.st_atime_ns, 1_000_000_000_000_000_001)
        for rel, target in (("d/up", ".."), ("d/to_file", "../a.txt"), ("dangling", "nowhere")):
            copy = self.path("dst", rel)
            self.assertTrue(os.path.islink(copy), rel)
            self.assertEqual(os.readlink(copy), target)
        # The loop was not walked: the file below it was handled once.
        self.assertEqual(result.stdout.count(os.path.join(self.src, "a.txt")), 1)

    def test_links_in_the_destination_are_never_written_through(self):
        self.write("src/sub/a.txt", "data")
        os.makedirs(self.path("outside"))
        os.makedirs(self.dst)
        os.symlink(self.path("outside"), self.path("dst", "sub"))
        result = self.copy()
        self.assertStatus(result, 9)
        self.assertEqual(os.listdir(self.path("outside")), [])
        self.assertIn("NOT COPIED (error)", result.stdout)

    def test_trees_deeper_than_the_path_limit(self):

        skip_under_wine("paths over PATH_MAX")
        # Built through relative steps: no single path may exceed the limit.
        name = "d" * 200
        here = os.open(self.src, os.O_RDONLY)
        try:
            for i in range(25):
                os.mkdir(name, dir_fd=here)
                nxt = os.open(name, os.O_RDONLY, dir_fd=here)
                os.close(here)
                here = nxt
            fd = os.open("leaf.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=here)
            os.write(fd, b"far down")
            os.close(fd)
            os.utime("leaf.txt", ns=(1_500_000_000_000_000_001, 1_400_000_000_000_000_002), dir_fd=here)
        finally:
            os.close(here)
        result = self.copy()
        self.assertStatus(result, 0)
        self.assertEqual(copied_count(result), 1, repr(result))
        fd = os.open(self.dst, os.O_RDONLY)
        try:
            for i in range(25):
                nxt = os.open(name, os.O_RDONLY, dir_fd=fd)
                os.close(fd)
                fd = nxt
            st = os.stat("leaf.txt", dir_fd=fd)
            self.assertEqual((st.st_atime_ns, st.st_mtime_ns), (1_500_000_000_000_000_001, 1_400_000_000_000_000_002))
            leaf = os.open("leaf.txt", os.O_RDONLY, dir_fd=fd)
            self.assertEqual(os.read(leaf, 100), b"far down")
            os.close(leaf)
        finally:
            os.close(fd)
        subprocess.run(["rm", "-rf", self.src, self.dst], check=True)

    def test_interrupt_leaves_no_partial_copy_and_exits_two(self):
        block = os.urandom(1 << 20)
        for i in range(6):
            with open(self.path("src", "f%d.bin" % i), "wb") as f:
                for _ in range(48):
                    f.write(block)
        # One thread: the head of a copy line is shown before its copy is
        # made, and the copies are slowed as on a slow drive, so that the
        # interrupt comes while they go on.
        proc = PtyRun(["-p", self.src, "-d", self.dst, "-m", "-i", "--THREADS=1"],
                      env=preloaded_env("slow_copy.c", "slow-copy"))
        proc.read_until("==>")
        proc.interrupt()
        self.assertEqual(proc.wait(), 2, proc.text)
        size = 48 << 20
        for name in os.listdir(self.dst):
            self.assertFalse(name.startswith(".veldro"), name)
            self.assertEqual(os.path.getsize(os.path.join(self.dst, name)), size, name)

    def test_dir_counts_log_names_each_directory_with_its_copies(self):
        self.write("src/one/a.txt", "a")
        self.write("src/one/b.txt", "b")
        self.write("src/two/c.txt", "c")
        self.copy(log_mask=64)
        with open(self.path("logs", "run_DIR-COUNTS.log")) as f:
            text = f.read()
        self.assertIn("\n     2   " + os.path.join(self.src, "one") + "/", text)
        self.assertIn("\n     1   " + os.path.join(self.src, "two") + "/", text)

    def test_maintained_directory_dates(self):

        skip_under_wine("no last-access protection")
        self.write("src/top/mid/leaf/f.txt", "f")
        self.write("src/top/x.txt", "x")
        self.write("src/Mixed/g.txt", "g")
        stamps = {}
        # Deepest first, so that making the tree does not move them again.
        for i, rel in enumerate(("top/mid/leaf", "top/mid", "top", "Mixed")):
            full = self.path("src", rel)
            self.set_times(full, 1_000_000_000_000_000_000 + i * 7, 1_100_000_000_000_000_000 + i * 11)
            stamps[rel] = os.stat(full)
        result = run(["-p", self.src, "-d", self.dst, "-M", "-i"])
        self.assertStatus(result, 0)
        for rel, before in stamps.items():
            after = os.stat(self.path("src", rel))
            self.assertEqual((after.st_atime_ns, after.st_mtime_ns, after.st_ctime_ns),
                             (before.st_atime_ns, before.st_mtime_ns, before.st_ctime_ns), rel)
            copy = os.stat(self.path("dst", rel))
            self.assertEqual((copy.st_atime_ns, copy.st_mtime_ns), (before.st_atime_ns, before.st_mtime_ns), rel)
        # Names keep their case: the chain and the files meet in one directory.
        self.assertEqual(sorted(os.listdir(self.dst)), ["Mixed", "top"])

    def test_drive_only_destination_repeats_the_source_path(self):
        self.write("src/A/B.TXT", "b")
        out = self.path("out")
        result = run(["-p", self.src, "-D", out, "-m", "-i"])
        self.assertStatus(result, 0)
        self.assertEqual(self.read(os.path.join(out[len(self.tmp) + 1:], self.src.lstrip("/"), "A", "B.TXT")), b"b")

    def test_relative_source_and_destination(self):
        self.write("src/x/y.txt", "y")
        result = run(["-p", "src", "-d", "dst", "-m", "-i"], cwd=self.tmp)
        self.assertStatus(result, 0)
        self.assertEqual(self.read("dst/x/y.txt"), b"y")


class CreationTimeTest(CopyCase):
    def test_a_file_system_without_settable_creation_times_is_named_once(self):
        skip_under_wine("creation times are kept by wine itself")
        self.write("src/a.txt", "a")
        self.write("src/b.txt", "b")
        result = self.copy()
        self.assertStatus(result, 0)
        note = "Creation times cannot be set on the file system of " + self.dst
        self.assertEqual(result.stderr.count(note), 1, repr(result))

    def mount_ntfs(self, driver="ntfs-3g", options="streams_interface=xattr"):
        """A fresh 16 MiB NTFS image mounted through FUSE; its mount point."""
        skip_under_wine("no extended attributes as streams")
        for tool in ("mkntfs", driver):
            if shutil.which(tool) is None:
                self.skipTest(tool + " is not installed")
        image, mnt = self.path("ntfs.img"), self.path("ntfs")
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        os.makedirs(mnt)
        subprocess.run(["mkntfs", "-F", "-f", "-q", image], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if subprocess.run([driver, "-o", options, image, mnt],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("an NTFS image cannot be mounted here (needs FUSE and root)")
        self.addCleanup(subprocess.run, ["umount", mnt])
        return mnt

    def test_ntfs_copies_take_the_source_creation_time_and_streams(self):
        mnt = self.mount_ntfs()
        src = self.write("src/sub/a.txt", "ntfs")
        os.setxattr(src, "user.note", b"stream data")
        os.utime(src, ns=(1_431_000_000_123_456_700, 1_430_000_000_987_654_300))
        birth = subprocess.run(["stat", "-c", "%W", src], capture_output=True, text=True).stdout.strip()
        result = run(["-p", self.src, "-d", os.path.join(mnt, "out"), "-m", "-i"])
        self.assertStatus(result, 0)
        self.assertNotIn("Creation times cannot be set", result.stderr)
        copy = os.path.join(mnt, "out", "sub", "a.txt")
        st = os.stat(copy)
        self.assertEqual((st.st_atime_ns, st.st_mtime_ns), (1_431_000_000_123_456_700, 1_430_000_000_987_654_300))
        self.assertEqual(os.getxattr(copy, "user.note"), b"stream data")
        crtime = struct.unpack("<Q", os.getxattr(copy, "system.ntfs_crtime"))[0]
        if birth not in ("", "0", "-"):
            self.assertEqual((crtime - 116_444_736_000_000_000) // 10_000_000, int(birth))

    def test_names_differing_in_case_meet_in_a_made_directory_that_ignores_case(self):
        # The run makes out/sub itself; the second name must still find the
        # first one's copy there, as old as itself.
        mnt = self.mount_ntfs("lowntfs-3g", "ignore_case")
        t = 1_600_000_000_000_000_000
        for name, data in (("A.txt", "upper"), ("a.txt", "lower")):
            self.set_times(self.write("src/sub/" + name, data), t, t)
        result = run(["-p", self.src, "-d", os.path.join(mnt, "out"), "-m", "-i",
                      "-1", self.path("logs", "run.log") + "!8"])
        self.assertStatus(result, 0)
        self.assertEqual(copied_count(result), 1)
        self.assertEqual(self.not_copied_log().count("reason: AGE Criteria"), 1)
        self.assertEqual(len(os.listdir(os.path.join(mnt, "out", "sub"))), 1)


if __name__ == "__main__":
    unittest.main()
