"""The number of threads changes nothing a user reads: the console, every log,
the hash log and its companions and the copies are the same, byte for byte,
with one thread, two and eight (the run's own clock aside).

The tree mixes what makes a run's records depend on order: nested
directories, names that clash when flattened, a copy that differs from its
source (made by the corrupting preload library), a source that cannot be
opened (a preload library refuses it, even to root) and, where the file
system keeps them, named streams; a directory refused and one bypassed, with
the dir-count log, put the walk's own lines among the files'. Under wine the
Linux preload libraries cannot reach the program: the same tree is copied without those faults."""

import hashlib
import os
import random
import re
import signal
import subprocess
import time
import unittest

from veldro_e2e import (UNDER_WINE, PtyRun, TreeCase, clean_env, preload_library, preloaded_env, program, run,
                        skip_under_wine)

# What differs from one run to the next whatever the threads: the run's own
# calendar times, elapsed times and rates.
_CLOCK = [
    (re.compile(rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}"), b"<calendar>"),
    # "UTC" on Linux, "UT (UT/:UTC0 )" from wine.
    (re.compile(rb"\d\d:\d\d UT"), b"<hh:mm> UT"),
    (re.compile(rb"\d+ hrs\. +\d+ mins\. +\d+ secs\."), b"<elapsed>"),
    (re.compile(rb"[\d.]+ meg/min[^\n]*"), b"<rate>"),
    (re.compile(rb"drives in [\d.]+ secs\."), b"drives in <flush> secs."),
    # A file list may name a copy the run made: it was created by the run.
    (re.compile(rb"(/DST_Tn/[^|\n]*\| \d+\|)[\d/]+\|[\d:]+c\|"), rb"\1<made by the run>c|"),
]
if UNDER_WINE:
    # Wine does not keep a source's last-access time from being moved by the
    # reads of the run before: the file list's access times differ.
    _CLOCK.append((re.compile(rb"\d{4}/\d\d/\d\d\|\d\d:\d\d:\d\d(?:\.\d+)?a\|"), b"<accessed>|"))


def without_clock(data, threads):
    if data.startswith(b"\xff\xfe"):
        data = data.decode("utf-16-le").encode("utf-8")
    data = data.replace(b"_T%d" % threads, b"_Tn").replace(b"--THREADS=%d" % threads, b"--THREADS=n")
    for pattern, replacement in _CLOCK:
        data = pattern.sub(replacement, data)
    return data


class OneAndManyThreads(TreeCase):
    def setUp(self):
        super().setUp()
        if UNDER_WINE:
            self.env = clean_env(TZ="UTC0")
        else:
            libraries = [preload_library("corrupt_after_copy.c", "corrupting"),
                         preload_library("fail_source_open.c", "unreadable-source")]
            asan = os.environ.get("ASAN_OPTIONS", "")
            self.env = clean_env(TZ="UTC0", LD_PRELOAD=" ".join(libraries),
                                 VELDRO_TEST_CORRUPT_NAME="mismatch.bin", VELDRO_TEST_CORRUPT_TIMES="1",
                                 VELDRO_TEST_UNREADABLE_NAME="locked.txt",
                                 ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        for d in range(6):
            for f in range(12):
                self.write(f"SRC/d{d}/sub{f % 3}/file{f}.txt", (b"%d-%d " % (d, f)) * (50 * f + 1))
            self.write(f"SRC/d{d}/same.txt", b"same name %d" % d)
        # Large enough to be read back while it is copied, with a hole.
        self.write("SRC/big.bin", os.urandom(6 << 20))
        with open(self.path("SRC/big.bin"), "r+b") as f:
            f.seek(8 << 20)
            f.write(os.urandom(1 << 20))
        # Large copies that may be made together, of uneven lengths.
        self.write("SRC/d0/large1.bin", os.urandom(5 << 20))
        self.write("SRC/d0/large2.bin", os.urandom((4 << 20) + 3))
        self.write("SRC/d2/mismatch.bin", os.urandom(300_000))
        self.write("SRC/d3/locked.txt", b"nobody reads this")
        self.write("SRC/d4/sub1/locked.txt/inside.txt", b"nor this")  # a directory refused
        self.bypass = "--BYP=" + self.path("SRC", "d5", "sub2")
        self.streams = []
        if not UNDER_WINE:
            try:
                os.setxattr(self.path("SRC/d1/file1.txt"), "user.note", b"a stream")
                self.streams = ["--ADSEXTRACT"]
            except OSError:
                pass

    def file_list(self, tag):
        """Every file of the tree, then what makes a list's lines depend on
        one another: a missing file, a directory, a file listed twice, a
        line holding a NUL byte and a copy an earlier line made."""
        src = self.path("SRC")
        names = sorted(os.path.relpath(os.path.join(base, name), src)
                       for base, _dirs, files in os.walk(src) for name in files)
        lines = [os.path.join(src, name).encode() for name in names]  # big.bin first
        lines[1:1] = [self.path("DST" + tag).encode() + lines[0], lines[0]]
        lines[8:8] = [os.path.join(src, "d4", "gone.txt").encode(), os.path.join(src, "d0").encode(), b"bad\0line"]
        return self.write(f"list{tag}.txt", b"\n".join(lines) + b"\n")

    def outputs(self, threads, *extra, listed=False):
        tag = f"_T{threads}"
        sources = ["-S", self.file_list(tag)] if listed else ["-p", "SRC", "--SHA2", "--RET=1", self.bypass] + self.streams
        r = run(sources + ["-d", "DST" + tag, "-m", "-1", f"LOGS{tag}/RUN.LOG!255", "-H", f"H{tag}/HASH.TXT",
                           f"--THREADS={threads}"] + list(extra),
                cwd=self.tmp, env=self.env)
        seen = {"status": str(r.status).encode(), "stdout": without_clock(r.out, threads),
                "stderr": without_clock(r.err, threads)}
        for top in ("LOGS" + tag, "H" + tag, "DST" + tag):
            for base, _dirs, files in os.walk(self.path(top)):
                for name in files:
                    full = os.path.join(base, name)
                    key = os.path.relpath(full, self.tmp).replace(tag, "_Tn")
                    with open(full, "rb") as f:
                        data = f.read()
                    seen[key] = without_clock(data, threads) if top != "DST" + tag else data
                    if top == "DST" + tag:
                        seen[key + " mtime"] = str(os.stat(full).st_mtime_ns).encode()
        return seen

    def assertSameOutputs(self, *extra, listed=False):
        one = self.outputs(1, *extra, listed=listed)
        for threads in (2, 8):
            many = self.outputs(threads, *extra, listed=listed)
            self.assertEqual(sorted(one), sorted(many))
            for key in one:
                self.assertEqual(one[key], many[key], (threads, key))
        return one

    def test_tree_copy(self):
        one = self.assertSameOutputs()
        if not UNDER_WINE:
            self.assertIn(b"locked.txt", one["stdout"])
            # A copy refused by the system is a failed copy with its reason, not a mismatch.
            self.assertIn(b"locked.txt (Permission denied)", one["stdout"])
            self.assertIn(b"locked.txt | DIRECTORY NOT READ", one["stdout"])
            self.assertNotIn(b"HASH ERROR", one["stdout"] + one["stderr"])
        self.assertIn(b"BYPASSED DIRECTORY: ", one["stdout"])
        self.assertIn(b"sub1/\n", one[os.path.join("LOGS_Tn", "RUN_DIR-COUNTS.LOG")])
        big = hashlib.md5(self.read("SRC/big.bin")).hexdigest().upper().encode()
        self.assertEqual(one[os.path.join("H_Tn", "HASH.TXT")].count(big), 2)

    def test_flattened_copy_with_clashing_names(self):
        one = self.assertSameOutputs("--FLAT")
        self.assertTrue(any("same[" in key for key in one), sorted(one))

    def test_file_list(self):
        one = self.assertSameOutputs(listed=True)
        for seen in (b"gone.txt ==> NOT LOCATED", b"SOURCE IS DIRECTORY", b"DST_Tn" + self.path("DST_Tn").encode()):
            self.assertIn(seen, one["stdout"])
        if not UNDER_WINE:
            self.assertIn(b"locked.txt | NOT COPIED", one["stdout"])
            self.assertIn(b"HASH ERROR", one["stdout"])
            self.assertIn(b"holds a NUL byte", one["stderr"])


class InterruptedWorkers(TreeCase):
    def test_an_interrupt_stops_every_worker_and_leaves_no_partial_copy(self):
        os.makedirs(self.path("src"))
        block = os.urandom(1 << 20)
        for i in range(12):
            with open(self.path("src", "f%02d.bin" % i), "wb") as f:
                for _ in range(48):
                    f.write(block)
        listing = self.write("list.txt", "".join(self.path("src", "f%02d.bin\n" % i) for i in range(12)))
        # Escape is read at the console while the walk waits for the
        # workers, and stops them as Ctrl-C does.
        for mode, sources, copies, stop in (
                ("tree", ["-p", self.path("src")], self.path("dst_tree"), PtyRun.interrupt),
                ("list", ["-S", listing], self.path("dst_list") + self.path("src"), PtyRun.interrupt),
                ("escape", ["-p", self.path("src")], self.path("dst_escape"), lambda proc: proc.send(b"\x1b"))):
            with self.subTest(mode):
                # The copies slowed as on a slow drive, so that they are under way when the status line shows
                # how far they are.
                proc = PtyRun(sources + ["-d", self.path("dst_" + mode), "-m", "-i", "--HASH", "--THREADS=4",
                                         "-1", self.path(mode + ".LOG")], env=preloaded_env("slow_copy.c", "slow-copy"))
                proc.read_until(" MB | ")
                stop(proc)
                self.assertEqual(proc.wait(), 2, proc.text)
                self.assertIn("Abnormal termination. Reason: USER_ABORTED", proc.text)
                self.assertTrue(os.path.exists(self.path(mode + ".LOGX")))
                self.assertLess(len(os.listdir(copies)), 12, proc.text)
                for name in os.listdir(copies):
                    self.assertFalse(name.startswith(".veldro"), name)
                    self.assertEqual(self.read(os.path.join(copies, name)), self.read("src/" + name), name)


class EveryCopyRecordedAfterAnInterrupt(TreeCase):
    """Ctrl-C at a random moment (a hang-up once the first file is recorded, with 64 workers), from the tree and
    from a file list: every copy is named in the copied log, the hash log, the DFXML and the audit set."""

    def test_every_copy_in_the_destination_is_recorded(self):
        skip_under_wine("signals to a process under wine")
        for i in range(60):
            self.write(f"src/big{i:02d}.bin", os.urandom((i % 4 + 1) << 20))
            self.write(f"src/s{i % 3}/small{i:03d}.txt", b"%d " % i * (i + 1))
        listing = self.write("list.txt", "".join(os.path.join(base, name) + "\n"
                                                 for base, _d, files in os.walk(self.path("src")) for name in files))
        cases = [(listed, threads, random.uniform(0.05, 0.8)) for listed in "-L" for threads in (1, 8) for _ in "12345"]
        for n, (listed, threads, delay) in enumerate(cases + [("-", 64, None)]):
            with self.subTest(listed=listed, threads=threads, delay=delay):
                logs = [self.path(f"{n}_COPIED.LOG"), self.path(f"{n}H.TXT"), self.path(f"{n}.xml"), self.path(f"{n}A")]
                proc = subprocess.Popen(
                    [program(), "-S" if listed == "L" else "-p", listing if listed == "L" else self.path("src"), "-d",
                     self.path(f"dst{n}"), "-m", "-A", "-1", self.path(f"{n}.LOG!4"), "-H", logs[1],
                     f"--DFXML={logs[2]}", f"--AUDITSET={logs[3]}", f"--THREADS={threads}"],
                    env=clean_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                out = os.read(proc.stdout.fileno(), 4096)  # it runs, its signal handlers in place
                while delay is None and b"==>" not in out and proc.poll() is None:  # later files in the workers' hands
                    out += os.read(proc.stdout.fileno(), 4096)
                time.sleep(delay or 0)
                proc.send_signal(signal.SIGINT if delay else signal.SIGHUP)
                out += proc.communicate(timeout=120)[0]
                self.assertIn(proc.returncode, (0, 2) if delay else (2,), out[-2000:])
                seen = [self.read(log) for log in logs]
                copies = [name.encode() for _b, _d, files in os.walk(self.path(f"dst{n}")) for name in files]
                self.assertEqual([(name, logs[i]) for name in copies for i in range(4) if name not in seen[i]][:9], [])


if __name__ == "__main__":
    unittest.main()
