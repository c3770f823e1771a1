"""Hostile trees and careless command lines: nothing is written outside
the destination, no source is overwritten, and no such run ends as a
success."""

import os
import resource
import shutil
import stat
import subprocess
import threading
import time
import unittest

from veldro_e2e import PtyRun, TreeCase, clean_env, preloaded_env, run, skip_under_wine


def files_below(top):
    found = []
    for here, _, names in os.walk(top):
        found.extend(os.path.join(here, n) for n in names)
    return found


def make_deep_chain(top, depth, name="d"):
    """`depth` nested directories below `top`, made through descriptors so
    that the path's length does not matter; gives the innermost descriptor."""
    fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    for _ in range(depth):
        try:
            os.mkdir(name, dir_fd=fd)
        except FileExistsError:
            pass
        inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = inner
    return fd


def read_below(top, rel_dirs, leaf):
    """Reads `leaf` below the directories `rel_dirs`, however deep."""
    fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for name in rel_dirs:
            inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
        leaf_fd = os.open(leaf, os.O_RDONLY, dir_fd=fd)
        with os.fdopen(leaf_fd, "rb") as f:
            return f.read()
    finally:
        os.close(fd)


class TestWritesStayInTheDestination(TreeCase):
    def setUp(self):
        super().setUp()
        self.outside = self.path("outside")
        os.makedirs(self.outside)
        self.dst = self.path("dst")

    def assertNothingOutside(self):
        self.assertEqual(files_below(self.outside), [])

    def test_a_stream_name_with_separators_is_not_extracted(self):
        skip_under_wine("streams are user extended attributes only on Linux")
        src = self.write("src/f.txt", b"data")
        try:
            os.setxattr(src, "user.x/../../outside/pwn", b"attack")
            os.setxattr(src, "user.fine", b"ok")
        except OSError:
            self.skipTest("the scratch file system keeps no user extended attributes")
        os.makedirs(self.path("src", "f.txt[x"))  # helps the name along in a copy of the tree
        r = run(["-p", self.path("src"), "-d", self.dst, "-m", "--ADSEXTRACT", "-H", self.path("HASH.TXT")])
        self.assertStatus(r, 9)
        self.assertIn("NOT EXTRACTED (error)", r.stdout)
        self.assertIn("(stream name holds a path separator)", r.stdout)
        self.assertTrue(os.path.exists(os.path.join(self.dst, "f.txt[fine]")))
        self.assertNothingOutside()
        self.assertEqual([p for p in files_below(self.tmp) if "pwn" in p], [])

    def test_links_in_the_repeated_source_path_are_not_followed(self):
        skip_under_wine("wine shows a Unix link as an ordinary directory, not a reparse point")
        src_file = self.write("src/sub/f.txt", b"evidence")
        first = self.tmp.strip("/").split("/")[0]
        listing = self.write("list.txt", src_file + "\n")
        dirs = self.write("dirs.txt", self.path("src") + "\n")
        # In the destination, a link stands where the source's path repeats.
        in_dst_sub = os.path.join(self.dst, self.path("src", "sub").lstrip("/"))
        cases = [
            ("file list", ["-S", listing], in_dst_sub),
            ("--DIRS", ["--DIRS=" + dirs], os.path.join(self.dst, first)),
            ("-D", ["-p", self.path("src")], os.path.join(self.dst, first)),
        ]
        for what, args, link in cases:
            with self.subTest(what):
                shutil.rmtree(self.dst, True)
                os.makedirs(os.path.dirname(link))
                os.symlink(self.outside, link)
                dest = ["-D", self.dst] if what == "-D" else ["-d", self.dst]
                r = run(args + dest + ["-m"])
                self.assertNotEqual(r.status, 0, repr(r))
                self.assertNothingOutside()

    def test_a_destination_directory_swapped_for_a_link_is_never_written_through(self):
        skip_under_wine("wine shows a Unix link as an ordinary directory, not a reparse point")
        for i in range(4):
            self.write(f"src/d0000/f{i}.txt", b"x" * 4096)
        os.makedirs(os.path.join(self.dst, "d0000"))
        real = os.path.join(self.dst, "d0000")
        parked = os.path.join(self.dst, "parked")
        link = os.path.join(self.dst, "swap-link")
        stop = threading.Event()

        def swapper():
            # Puts a link to `outside` in the place of dst/d0000 and back,
            # as fast as it can, while the runs go.
            while not stop.is_set():
                try:
                    os.symlink(self.outside, link)
                    os.rename(real, parked)
                    os.rename(link, real)
                    time.sleep(0)
                    os.rename(real, link)
                    os.rename(parked, real)
                    os.remove(link)
                except OSError:
                    pass

        thread = threading.Thread(target=swapper)
        thread.start()
        try:
            deadline = time.time() + 8
            runs = 0
            while runs < 60 and time.time() < deadline:
                run(["-p", self.path("src"), "-d", self.dst, "-m", "-A"])
                runs += 1
        finally:
            stop.set()
            thread.join()
        self.assertGreater(runs, 5)
        self.assertNothingOutside()

    def test_overwriting_a_protected_copy_leaves_its_other_hard_links_alone(self):
        skip_under_wine("Windows keeps the read-only mark on the file itself, shared by its hard links")
        elsewhere = self.write("elsewhere/keep.txt", b"someone else's file")
        os.chmod(elsewhere, 0o444)
        self.write("src/f.txt", b"new evidence")
        os.makedirs(self.dst)
        os.link(elsewhere, os.path.join(self.dst, "f.txt"))
        for args in (["-p", self.path("src")], ["-S", self.write("list.txt", self.path("src", "f.txt") + "\n")]):
            with self.subTest(args[0]):
                r = run(args + ["-d", self.dst, "-m", "-A", "-O"])
                self.assertStatus(r, 0)
                copy = os.path.join(self.dst, "f.txt") if args[0] == "-p" else \
                    os.path.join(self.dst, self.path("src", "f.txt").lstrip("/"))
                with open(copy, "rb") as f:
                    self.assertEqual(f.read(), b"new evidence")
                self.assertEqual(stat.S_IMODE(os.stat(elsewhere).st_mode), 0o444)
                with open(elsewhere, "rb") as f:
                    self.assertEqual(f.read(), b"someone else's file")


class TestSourcesAreNeverOverwritten(TreeCase):
    def test_a_destination_overlapping_a_source_is_refused(self):
        note = self.write("x/sub/note.txt", b"original")
        self.write("x/sub/sub/note.txt", b"other")
        os.symlink(self.path("x"), self.path("alias"))
        cases = [
            (self.path("x", "sub"), self.path("x"), "contains the source"),
            (self.path("x"), self.path("x", "sub"), "lies inside the source"),
            (self.path("x"), self.path("x"), "is the source"),
            (self.path("x"), self.path("alias", "sub", "new"), "lies inside the source"),
            (self.path("alias"), self.path("x"), "is the source"),
        ]
        for source, dest, text in cases:
            with self.subTest(source=source, dest=dest):
                r = run(["-p", source, "-d", dest, "-m", "-A"])
                self.assertStatus(r, 6)
                self.assertIn(text, r.stdout)
                with open(note, "rb") as f:
                    self.assertEqual(f.read(), b"original")
        self.assertFalse(os.path.exists(self.path("x", "sub", "new")))

    def test_a_listed_file_is_not_copied_onto_itself(self):
        skip_under_wine("a link to the Linux root as the destination")
        src = self.write("src/a.txt", b"alpha")
        os.symlink("/", self.path("root-link"))
        listing = self.write("list.txt", src + "\n")
        r = run(["-S", listing, "-d", self.path("root-link"), "-A"])
        self.assertStatus(r, 9)
        self.assertIn("REASON: DESTINATION IS THE SOURCE ITSELF", r.stdout)
        with open(src, "rb") as f:
            self.assertEqual(f.read(), b"alpha")


class TestNoFalseSuccess(TreeCase):
    def test_a_tree_twenty_thousand_levels_deep_is_copied_and_hashed(self):
        skip_under_wine("paths over PATH_MAX are reached through Linux descriptors")
        depth = 20000
        os.makedirs(self.path("src"))
        inner = make_deep_chain(self.path("src"), depth)
        with os.fdopen(os.open("bottom.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=inner), "wb") as f:
            f.write(b"deep evidence")
        os.close(inner)
        self.write("src/top.txt", b"top")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.path("src"), self.path("dst")])
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-i", "-H", self.path("HASH.TXT")],
                timeout=300)
        self.assertStatus(r, 0)
        self.assertEqual(read_below(self.path("dst"), ["d"] * depth, "bottom.txt"), b"deep evidence")
        with open(self.path("HASH.TXT"), "rb") as f:
            self.assertEqual(f.read().count(b"[OK]"), 2)

    def test_an_unreadable_directory_is_recorded_and_fails_the_run(self):
        skip_under_wine("runs the program as another Linux user")
        self.write("src/open/a.txt", b"a")
        self.write("src/closed/b.txt", b"b")
        os.chmod(self.path("src", "closed"), 0)
        self.addCleanup(os.chmod, self.path("src", "closed"), 0o755)
        os.makedirs(self.path("logs"))
        as_user = None
        if os.geteuid() == 0:
            # Root reads every directory: the run is made as nobody.
            os.chmod(self.tmp, 0o755)
            os.chmod(self.path("logs"), 0o777)
            os.makedirs(self.path("dst"))
            os.chmod(self.path("dst"), 0o777)
            as_user = 65534
        proc = subprocess.run([os.environ["VELDRO_BIN"], "-p", self.path("src"), "-d", self.path("dst"), "-m",
                               "-1", self.path("logs", "RUN.LOG") + "!all", "-E", self.path("logs", "ERR.LOG")],
                              capture_output=True, user=as_user)
        out = proc.stdout.decode()
        self.assertEqual(proc.returncode, 9, out)
        self.assertIn("closed | DIRECTORY NOT READ", out)
        self.assertTrue(os.path.exists(self.path("dst", "open", "a.txt")))
        with open(self.path("logs", "RUN_NOT_COPIED.LOG")) as f:
            self.assertIn("closed| Not Copied: Reason: Directory could not be read", f.read())
        with open(self.path("logs", "ERR.LOG")) as f:
            self.assertIn("DIRECTORY NOT READ", f.read())

    def test_a_width_out_of_range_is_an_illegal_option(self):
        self.write("src/a.txt", b"a")
        self.write("KANDRELX.INI", b"[BASE]\nWIDTH=99999999999\n")
        base = ["-p", self.path("src"), "-d", self.path("dst"), "-m"]
        for args, cwd, env in ((["-W", "99999999999"], None, None), (["-w", "-5"], None, None),
                               ([], None, clean_env(WIDTH="4097")), ([], self.tmp, None)):
            with self.subTest(args=args, ini=cwd is not None, env=env is not None):
                r = run(base + args, cwd=cwd, env=env, timeout=20)
                self.assertStatus(r, 6)
                self.assertLess(len(r.out), 10000)
        self.assertStatus(run(base + ["-W", "4096"]), 0)

    def test_roots_longer_than_the_path_limit_are_reached(self):
        skip_under_wine("paths over PATH_MAX are reached through Linux descriptors")
        name = "n" * 200
        os.makedirs(self.path("src"))
        os.makedirs(self.path("dst"))
        os.close(make_deep_chain(self.path("dst"), 25, name))
        src_root = self.path("src", *([name] * 25))
        fd = make_deep_chain(self.path("src"), 25, name)
        with os.fdopen(os.open("f.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as f:
            f.write(b"far away")
        os.close(fd)
        dst_root = self.path("dst", *([name] * 25), "new")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.path("src"), self.path("dst")])
        self.assertGreater(len(src_root), 4096)
        r = run(["-p", src_root, "-d", dst_root, "-m", "-H", self.path("HASH.TXT")])
        self.assertStatus(r, 0)
        self.assertEqual(read_below(self.path("dst"), [name] * 25 + ["new"], "f.txt"), b"far away")


class LeftoverTemporaries(TreeCase):
    def test_a_killed_runs_temporaries_are_removed_and_a_living_runs_kept(self):
        # Left by killed runs in directories that exist before this run: the
        # run that made each file has ended, is another program, or still goes.
        skip_under_wine("Linux process ids in the names")
        self.write("src/a.txt", b"a")
        self.write("src/sub/b.txt", b"b")
        ended = subprocess.Popen(["true"])
        ended.wait()
        other = subprocess.Popen(["sleep", "60"])
        self.addCleanup(lambda: (other.kill(), other.wait()))
        living = PtyRun(["-p", self.path("src"), "-d", self.path("nowhere")], env=clean_env(NO_COLOR="1"))
        living.read_until("[Y/N]")
        self.addCleanup(living.wait)
        self.addCleanup(living.send, "n")
        removed = [self.write(f"dst/.veldro-{ended.pid}-7.tmp", b"half a copy"),
                   self.write(f"dst/sub/.veldro-{other.pid}-1.tmp", b"half a copy")]
        kept = self.write(f"dst/.veldro-{living.pid}-2.tmp", b"being written")
        strangers = [self.write("dst/.veldro-x-1.tmp"), self.write(f"dst/sub/.veldro-{ended.pid}-1.tmp.bak")]
        os.makedirs(self.path("logs"))
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-E", self.path("logs", "ERR.LOG")])
        self.assertStatus(r, 0)
        errors = self.read("logs/ERR.LOG").decode()
        for path, text in [(p, "TEMPORARY FILE OF AN ENDED RUN REMOVED") for p in removed] + [
                (kept, "TEMPORARY FILE OF A RUN STILL GOING KEPT")]:
            with self.subTest(path=path):
                self.assertEqual(os.path.exists(path), path == kept)
                self.assertEqual(r.stdout.count(f"{path} | {text}\n"), 1)
                self.assertIn(f"\n{path} | {text}", errors)
        for path in strangers:
            self.assertTrue(os.path.exists(path))
            self.assertNotIn(os.path.basename(path), r.text + errors)


class TestDirectoriesThatFailLater(TreeCase):
    def test_a_directory_refused_after_its_subdirectories_were_listed_fails_the_run(self):
        self.write("src/X/important.txt", b"evidence")
        self.write("src/X/sub/big.bin", b"b" * 100_000)
        # -i: no counting pass, so the second open of X is the one that lists its files.
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-i"],
                env=preloaded_env("fail_source_open.c", "unreadable-source", VELDRO_TEST_UNREADABLE_NAME="X",
                                  VELDRO_TEST_UNREADABLE_FROM="2"))
        self.assertStatus(r, 9)
        self.assertEqual(r.stdout.count("X | DIRECTORY NOT READ, NOTHING BELOW IT COPIED (Permission denied)"), 1)
        self.assertTrue(os.path.exists(self.path("dst", "X", "sub", "big.bin")))
        self.assertFalse(os.path.exists(self.path("dst", "X", "important.txt")))

    def test_a_deep_tree_is_copied_whole_under_a_small_open_files_limit(self):
        skip_under_wine("the open-files limit is a Linux resource limit")
        for depth in range(151):
            self.write("src/" + "d/" * depth + "f.txt", b"level %d" % depth)
        proc = subprocess.run([os.environ["VELDRO_BIN"], "-p", self.path("src"), "-d", self.path("dst"), "-m",
                               "--THREADS=64", "-H", self.path("HASH.TXT")],
                              capture_output=True, timeout=300,
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64)))
        self.assertEqual(proc.returncode, 0, proc.stdout.decode()[-3000:])
        copied = [p for p in files_below(self.path("dst")) if p.endswith("f.txt")]
        self.assertEqual(len(copied), 151)
        with open(self.path("HASH.TXT"), "rb") as f:
            self.assertEqual(f.read().count(b"[OK]"), 151)


if __name__ == "__main__":
    unittest.main()
