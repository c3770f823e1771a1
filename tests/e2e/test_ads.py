"""Named streams end to end: --ADSEXTRACT, --ADSPARENT and --ADSCHILD, the
stream files name[stream] with their source's times and digests, the
stream lines of the hash log and the summary line.

On Linux a file's named streams are its user extended attributes, which is
how ntfs-3g shows the alternate data streams of an NTFS volume. The first
suites use the scratch directory's own file system (skipped where it keeps
no user attributes); the last one makes a small NTFS image with mkntfs and
mounts it through ntfs-3g (skipped without root, FUSE or ntfs-3g).

A stream whose copy differs is made with a real fault rather than a switch
in the program: a small preload library (support/alter_stream_write.c)
inverts the first byte of one named stream as the copy writes it."""

import hashlib
import os
import shutil
import subprocess
import unittest

from veldro_e2e import TreeCase, clean_env, preload_library, run, skip_under_wine

HERE = os.path.dirname(os.path.abspath(__file__))
FILLER = "  SOURCE_FILE FILLER        |      SOURCE_FILE FILLER      |"
OLD_ATIME_NS = 1_100_000_000 * 10**9 + 123_456_700
OLD_MTIME_NS = 1_200_000_000 * 10**9 + 987_654_300


def md5(data):
    return hashlib.md5(data).hexdigest().upper()


def user_xattrs_supported(directory):
    probe = os.path.join(directory, ".xattr-probe")
    with open(probe, "wb"):
        pass
    try:
        os.setxattr(probe, "user.probe", b"1")
        return True
    except OSError:
        return False
    finally:
        os.remove(probe)


def streams_of(path):
    """{name: value} of the named streams (user attributes) of a file."""
    return {n[len("user."):]: os.getxattr(path, n) for n in os.listxattr(path) if n.startswith("user.")}


def altering_library():
    return preload_library("alter_stream_write.c", "stream-altering")


class StreamCase(TreeCase):
    """Scratch tree on a file system that keeps user extended attributes."""

    def setUp(self):
        super().setUp()
        skip_under_wine("Linux extended attributes are no streams to wine, which has no BackupRead")
        if not user_xattrs_supported(self.tmp):
            self.skipTest("the scratch directory's file system keeps no user extended attributes")

    def with_streams(self, rel, data, streams, old_times=True):
        full = self.write(rel, data)
        for name, value in streams.items():
            os.setxattr(full, "user." + name, value)
        if old_times:
            os.utime(full, ns=(OLD_ATIME_NS, OLD_MTIME_NS))
        return full

    def copy(self, *extra, env=None):
        return run(["-p", self.path("SRC"), "-d", self.path("DST"), "-m"] + list(extra), cwd=self.tmp, env=env)

    def listing(self, rel="DST"):
        found = []
        for top, _dirs, files in os.walk(self.path(rel)):
            found += [os.path.relpath(os.path.join(top, f), self.path(rel)) for f in files]
        return sorted(found)

    def hash_log(self):
        with open(self.path("HASH.TXT"), "rb") as f:
            return f.read().decode("utf-8", "surrogateescape")

    def assertTimesOf(self, path, atime_ns=OLD_ATIME_NS, mtime_ns=OLD_MTIME_NS):
        st = os.stat(path)
        self.assertEqual((st.st_atime_ns, st.st_mtime_ns), (atime_ns, mtime_ns), path)


class ExtractMode(StreamCase):
    def test_streams_become_files_with_the_source_times_and_digests(self):
        src = self.with_streams("SRC/report.doc", b"body", {"a": b"stream a", "b": b"stream b\n" * 50})
        self.write("SRC/plain.txt", b"no streams here")
        r = self.copy("--ADSEXTRACT", "-H", self.path("HASH.TXT"), "-1", self.path("LOGS", "RUN.LOG") + "!1")
        self.assertStatus(r, 0)
        self.assertEqual(self.listing(), ["plain.txt", "report.doc", "report.doc[a]", "report.doc[b]"])
        for rel in ("DST/report.doc", "DST/report.doc[a]", "DST/report.doc[b]"):
            self.assertTimesOf(self.path(rel))
        self.assertEqual(self.read("DST/report.doc[a]"), b"stream a")
        self.assertEqual(self.read("DST/report.doc[b]"), b"stream b\n" * 50)
        # The copy carries the streams too; the source was left as it was.
        self.assertEqual(streams_of(self.path("DST/report.doc")), {"a": b"stream a", "b": b"stream b\n" * 50})
        self.assertTimesOf(src)

        log = self.hash_log()
        for name, value in (("a", b"stream a"), ("b", b"stream b\n" * 50)):
            stream_file = self.path("DST", "report.doc[%s]" % name)
            self.assertIn("\n" + FILLER + stream_file + "  | " + md5(value), log)
            self.assertIn("\n%s:%s  | %s |%s:%s  | %s | [OK] " % (src, name, md5(value),
                                                                 self.path("DST/report.doc"), name, md5(value)), log)
        self.assertNotIn("[ERROR]", log)
        with open(self.path("LOGS", "RUN.LOG"), "rb") as f:
            self.assertIn(b"\nIn addition:  Copied/extracted         2 ADS files to destination folder\n", f.read())
        self.assertIn("Copied ADS         2 files copied/extracted", r.stdout)

    def test_empty_blank_non_ascii_and_many_streams(self):
        streams = {"zero": b"", "with blanks in it": b"blank", "Zoné Idëntifier €": b"[ZoneTransfer]\r\nZoneId=3\r\n"}
        streams.update({"n%02d" % i: b"value %d" % i for i in range(12)})
        self.with_streams("SRC/many.bin", b"m", streams)
        r = self.copy("--ADSEXTRACT")
        self.assertStatus(r, 0)
        for name, value in streams.items():
            self.assertEqual(self.read("DST/many.bin[%s]" % name), value, name)
        self.assertEqual(len(self.listing()), 1 + len(streams))
        self.assertIn("Copied ADS        %d files copied/extracted" % len(streams), r.stdout)

    def test_stream_files_of_an_earlier_run_are_replaced(self):
        src = self.with_streams("SRC/report.doc", b"body", {"a": b"first"})
        self.assertStatus(self.copy("--ADSEXTRACT"), 0)
        os.setxattr(src, "user.a", b"second, and longer")
        os.utime(src, ns=(OLD_ATIME_NS, OLD_MTIME_NS + 10**9))
        self.assertStatus(self.copy("--ADSEXTRACT"), 0)
        self.assertEqual(self.read("DST/report.doc[a]"), b"second, and longer")
        self.assertEqual(self.listing(), ["report.doc", "report.doc[a]"])

    def test_a_stream_whose_copy_differs_is_an_error(self):
        self.with_streams("SRC/report.doc", b"body", {"good": b"same on both sides", "bad": b"altered on the copy"})
        env = clean_env(LD_PRELOAD=altering_library(), VELDRO_TEST_ALTER_STREAM="bad",
                        ASAN_OPTIONS=(os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0").lstrip(":"))
        r = self.copy("--ADSEXTRACT", "-H", self.path("HASH.TXT"), env=env)
        log = self.hash_log()
        src = self.path("SRC/report.doc")
        dst = self.path("DST/report.doc")
        altered = b"\x9e" + b"ltered on the copy"
        self.assertEqual(streams_of(dst)["bad"], altered, "the preload library did not alter the copy's stream")
        self.assertIn("%s:bad  | %s |%s:bad  | %s | [ERROR] " % (src, md5(b"altered on the copy"), dst, md5(altered)),
                      log)
        self.assertIn("%s:good  | %s |%s:good  | %s | [OK] " % (src, md5(b"same on both sides"), dst,
                                                              md5(b"same on both sides")), log)
        # The stream file holds what the copy holds, and says so.
        self.assertEqual(self.read("DST/report.doc[bad]"), altered)
        self.assertIn(FILLER + dst + "[bad]  | " + md5(altered), log)
        # A copy whose stream differs is not a faithful copy: the run does
        # not end as a success.
        self.assertStatus(r, 9)

    def test_hashing_alone_lists_streams_without_extracting_them(self):
        self.with_streams("SRC/report.doc", b"body", {"a": b"x"})
        r = self.copy("-H", self.path("HASH.TXT"))
        self.assertStatus(r, 0)
        self.assertEqual(self.listing(), ["report.doc"])
        self.assertIn(":a  | %s |" % md5(b"x"), self.hash_log())
        self.assertIn(" | [OK] ", self.hash_log())
        self.assertNotIn("Copied ADS", r.stdout)


class ParentAndChildModes(StreamCase):
    def setUp(self):
        super().setUp()
        self.src = self.with_streams("SRC/sub/report.doc", b"body", {"a": b"alpha", "b": b"beta"})
        self.plain = self.write("SRC/sub/plain.txt", b"no streams")
        os.utime(self.plain, ns=(OLD_ATIME_NS, OLD_MTIME_NS))

    def test_parent_copies_only_files_with_streams(self):
        r = self.copy("--ADSPARENT")
        self.assertStatus(r, 0)
        self.assertEqual(self.listing(), ["sub/report.doc", "sub/report.doc[a]", "sub/report.doc[b]"])
        self.assertEqual(self.read("DST/sub/report.doc[b]"), b"beta")
        self.assertIn("Copied ADS         2 files copied/extracted", r.stdout)

    def test_child_writes_only_the_stream_files(self):
        r = self.copy("--adschild", "-H", self.path("HASH.TXT"))
        self.assertStatus(r, 0)
        self.assertEqual(self.listing(), ["sub/report.doc[a]", "sub/report.doc[b]"])
        self.assertTimesOf(self.path("DST/sub/report.doc[a]"))
        self.assertEqual(self.read("DST/sub/report.doc[a]"), b"alpha")
        # The source keeps its last-access time (and every other time).
        self.assertTimesOf(self.src)
        self.assertTimesOf(self.plain)
        log = self.hash_log()
        self.assertIn("%s:a  | %s |%s  | %s | [OK] " % (self.src, md5(b"alpha"), self.path("DST/sub/report.doc[a]"),
                                                      md5(b"alpha")), log)
        self.assertNotIn("[ERROR]", log)
        self.assertIn("Copied ADS         2 files copied/extracted", r.stdout)

    def test_child_copied_log_line_names_the_destination_directory(self):
        r = self.copy("--ADSCHILD", "-1", self.path("LOGS/RUN.LOG") + "!4", "--THREADS=2")
        self.assertStatus(r, 0)
        self.assertIn(" ==> %s   [" % self.path("DST/sub/report.doc"), r.stdout)  # the console names the copy
        with open(self.path("LOGS/RUN_COPIED.LOG"), "rb") as f:
            lines = f.read().decode("utf-8", "surrogateescape").splitlines()
        copied = [line for line in lines if "report.doc|" in line]
        self.assertEqual(len(copied), 1, lines)
        # The stream files stand for the copy: the line's destination is
        # their directory, as the file's later steps use it.
        self.assertIn("|%s| ==> |%s|" % (self.src, self.path("DST/sub")), copied[0])


def ntfs_tools():
    """Paths of mkntfs and ntfs-3g, or a reason why the NTFS suite cannot run."""
    if os.geteuid() != 0:
        return None, "mounting an NTFS image needs root"
    if not os.path.exists("/dev/fuse"):
        return None, "no /dev/fuse: ntfs-3g cannot mount"
    mkntfs = shutil.which("mkntfs") or next((p for p in ("/usr/sbin/mkntfs", "/sbin/mkntfs") if os.path.exists(p)),
                                            None)
    ntfs3g = shutil.which("ntfs-3g") or next((p for p in ("/usr/bin/ntfs-3g", "/bin/ntfs-3g") if os.path.exists(p)),
                                             None)
    if mkntfs is None or ntfs3g is None:
        return None, "mkntfs or ntfs-3g is not installed"
    return (mkntfs, ntfs3g), None


class NtfsVolume(StreamCase):
    """Source and destination on a real NTFS volume, its alternate data
    streams seen through ntfs-3g as user extended attributes."""

    def setUp(self):
        TreeCase.setUp(self)
        skip_under_wine("an ntfs-3g volume shows its streams as Linux extended attributes, no streams to wine")
        tools, reason = ntfs_tools()
        if tools is None:
            self.skipTest(reason)
        mkntfs, ntfs3g = tools
        image = self.path("ntfs.img")
        self.mnt = self.path("mnt")
        os.makedirs(self.mnt)
        with open(image, "wb") as f:
            f.truncate(16 * 1024 * 1024)
        made = subprocess.run([mkntfs, "-F", "-q", "-Q", image], capture_output=True)
        if made.returncode != 0:
            self.skipTest("mkntfs failed: " + made.stderr.decode(errors="replace"))
        mounted = subprocess.run([ntfs3g, "-o", "streams_interface=xattr", image, self.mnt], capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("ntfs-3g could not mount the image: " + mounted.stderr.decode(errors="replace"))
        self.addCleanup(self.unmount)

    def unmount(self):
        for command in (["fusermount", "-u", self.mnt], ["umount", self.mnt], ["umount", "-l", self.mnt]):
            if shutil.which(command[0]) and subprocess.run(command, capture_output=True).returncode == 0:
                return

    def path(self, *parts):
        # Source, destination and logs live on the volume once it is mounted.
        if parts and parts[0].split("/")[0] in ("SRC", "DST", "HASH.TXT", "LOGS") and hasattr(self, "mnt"):
            return os.path.join(self.mnt, *parts)
        return super().path(*parts)

    def test_extract_on_ntfs_carries_the_alternate_data_streams(self):
        streams = {"Zone.Identifier": b"[ZoneTransfer]\r\nZoneId=3\r\n", "empty": b"",
                   "blank and ü": b"b" * 5000, "big": os.urandom(60000)}
        streams.update({"s%d" % i: b"%d" % i for i in range(10)})
        src = self.with_streams("SRC/report.doc", b"evidence", streams)
        self.write("SRC/other.txt", b"plain")
        r = self.copy("--ADSEXTRACT", "-H", self.path("HASH.TXT"))
        self.assertStatus(r, 0)
        dst = self.path("DST/report.doc")
        # The copy's own alternate data streams are the source's.
        self.assertEqual(streams_of(dst), streams)
        for name, value in streams.items():
            stream_file = self.path("DST", "report.doc[%s]" % name)
            with open(stream_file, "rb") as f:
                self.assertEqual(f.read(), value, name)
            self.assertTimesOf(stream_file)
        log = self.hash_log()
        self.assertEqual(log.count(" | [OK] "), len(streams), log)
        self.assertNotIn("[ERROR]", log)
        self.assertTimesOf(src)
        self.assertIn("Copied ADS        %d files copied/extracted" % len(streams), r.stdout)

    def test_parent_and_child_on_ntfs(self):
        src = self.with_streams("SRC/report.doc", b"evidence", {"a": b"alpha", "b": b"beta"})
        self.write("SRC/other.txt", b"plain")
        self.assertStatus(self.copy("--ADSPARENT"), 0)
        self.assertEqual(self.listing(), ["report.doc", "report.doc[a]", "report.doc[b]"])
        shutil.rmtree(self.path("DST"))
        # The copy above read the source; its times are set anew for the
        # run that only reads its streams.
        os.utime(src, ns=(OLD_ATIME_NS, OLD_MTIME_NS))
        self.assertStatus(self.copy("--ADSCHILD", "-H", self.path("HASH.TXT")), 0)
        self.assertTimesOf(src)
        self.assertTimesOf(self.path("DST/report.doc[b]"))
        self.assertEqual(self.listing(), ["report.doc[a]", "report.doc[b]"])
        self.assertEqual(self.hash_log().count(" | [OK] "), 2)


if __name__ == "__main__":
    unittest.main()
