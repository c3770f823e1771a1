#!/usr/bin/env python3
"""Verified-copy benchmark: the program with digests of both sides against
what a user would otherwise run, on the same generated trees in one run,
with every source cached.

Each round runs every contender once, in an order that turns from round to
round; figures are wall-clock medians of the rounds.

  tree, copy + MD5 of both sides (-H):
      veldro -H          vs  cp -a + md5sum of source and copy
                         vs  hashdeep known set + cp -a + hashdeep audit of the copy
                         vs  rsync -a + rsync -ac (a second pass that checksums both sides)
  one large file, copy + MD5 of both sides:
      veldro -H          vs  cp -a + md5sum of source and copy
  tree, copy only:
      veldro            vs  cp -a
  tree, copy + MD5 of both sides, threads:
      veldro -H          vs  veldro -H --THREADS=1
      (only when the program knows --THREADS; otherwise the row is skipped
      with a note)
  tree, copy + MD5 and SHA-384 or SHA-512 of both sides:
      veldro -H --SHA3   vs  cp -a + md5sum + sha384sum of source and copy
      veldro -H --SHA5   vs  cp -a + md5sum + sha512sum of source and copy
      (the SHA-2 kinds of 64-bit words run one stream at a time, lanes or
      not: measured once, with the default build)

After the rounds, the program's peak memory (resident set) with -H on a
tree of --memory-files tiny files (200,000 by default; 0 leaves it out).

Wherever the program hashes, it also runs with VELDRO_HASH_LANES=1: MD5 one
stream at a time, no lanes, the copy read back by a thread of its own (or
after it is made), as before the lanes.

With --baseline OTHER_BIN, another build of the program (say, of an earlier
commit) runs in the same rounds wherever the program does.

Usage: verified_copy.py VELDRO_BIN [--baseline OTHER_BIN] [--dir D] [--rounds N]
                        [--big-files N] [--big-mib N] [--small-files N] [--large-mib N]
                        [--memory-files N]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from copy_tree import generate, warm
from copy_tree import timed as timed_with_memory


def generate_large(root, mib):
    os.makedirs(root)
    block = os.urandom(1 << 20)
    with open(os.path.join(root, "large.bin"), "wb") as f:
        for i in range(mib):
            # Every MiB differs, so that nothing can be deduplicated.
            f.write(i.to_bytes(8, "little") + block[8:])


def generate_tiny(root, count):
    """`count` files of 1 to 100 bytes in directories of 1,000."""
    for i in range(count):
        d = os.path.join(root, f"d{i // 1000:04d}")
        if i % 1000 == 0:
            os.makedirs(d)
        with open(os.path.join(d, f"t{i:07d}"), "wb") as f:
            f.write(b"x" * (1 + i % 100))


def machine():
    """The processor model and the processors this process may use."""
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    return f"{model}, nproc {usable} (of {os.cpu_count()}), load average {os.getloadavg()[0]:.2f}"


def lanes():
    """The MD5 lanes the program chooses on this processor."""
    flags = set()
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("flags"):
                    flags = set(line.split(":", 1)[1].split())
                    break
    except OSError:
        pass
    if "avx512f" in flags:
        return "16 MD5 lanes (AVX-512)"
    if "avx2" in flags:
        return "8 MD5 lanes (AVX2)"
    return "no MD5 lanes (one stream at a time)"


def file_system(path):
    done = subprocess.run(["stat", "-f", "-c", "%T", path], capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else "unknown file system"


def knows_threads(veldro, work):
    """Whether the program has --THREADS. An unknown long option is ignored
    without a message, so a run with --THREADS=1 cannot tell by itself: the
    option must also refuse an empty value (status 6, as every option that
    needs a value does), and accept 1."""
    tiny = os.path.join(work, "tiny")
    os.makedirs(os.path.join(tiny, "src"))
    with open(os.path.join(tiny, "src", "a.txt"), "w", encoding="ascii") as f:
        f.write("a\n")

    def status(option, name):
        argv = [veldro, option, "-p", os.path.join(tiny, "src"), "-d", os.path.join(tiny, name), "-m", "-i"]
        return subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode

    try:
        return status("--THREADS=", "empty") != 0 and status("--THREADS=1", "one") == 0
    finally:
        shutil.rmtree(tiny, ignore_errors=True)


def sh(script):
    return ["sh", "-ec", script]


def timed(argv):
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)} ended with status {proc.returncode}: {proc.stderr.decode()[-400:]}")
    return elapsed


def mount_tmpfs(path, gib):
    """Mounts a tmpfs at `path` when the process may; False otherwise."""
    os.makedirs(path, exist_ok=True)
    if os.geteuid() != 0 or shutil.which("mount") is None:
        return False
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={gib}g", "tmpfs", path], capture_output=True)
    return done.returncode == 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("veldro")
    ap.add_argument("--dir", default=None, help="scratch directory (default: a tmpfs mounted for the run, "
                    "else a directory in /dev/shm)")
    ap.add_argument("--baseline", default=None, help="another build of the program to run alongside")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--big-files", type=int, default=8)
    ap.add_argument("--big-mib", type=int, default=16)
    ap.add_argument("--small-files", type=int, default=5000)
    ap.add_argument("--large-mib", type=int, default=1024)
    ap.add_argument("--memory-files", type=int, default=200_000)
    args = ap.parse_args()

    for tool in ("cp", "md5sum", "sha384sum", "sha512sum", "rsync", "hashdeep", "find", "xargs"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is needed for the comparison (hashdeep: Debian package hashdeep)")
    veldro = os.path.abspath(args.veldro)
    mounted = False
    if args.dir:
        work = args.dir
        os.makedirs(work, exist_ok=True)
        where = work
    else:
        work = tempfile.mkdtemp(prefix="veldro-vbench-", dir="/tmp")
        mounted = mount_tmpfs(work, 6)
        if not mounted:
            os.rmdir(work)
            base = "/dev/shm" if os.path.isdir("/dev/shm") else "/var/tmp"
            work = tempfile.mkdtemp(prefix="veldro-vbench-", dir=base)
        where = f"{work} ({'tmpfs mounted for the run' if mounted else 'no tmpfs could be mounted'})"
    where += f", file system {file_system(work)}"
    tree = os.path.join(work, "tree")
    large = os.path.join(work, "large")
    out = os.path.join(work, "out")
    try:
        print(f"machine: {machine()}")
        threads = knows_threads(veldro, work)
        print(f"generating {args.big_files} x {args.big_mib} MiB + {args.small_files} files of 1-8 KiB "
              f"and one file of {args.large_mib} MiB in {where}", flush=True)
        generate(tree, args.big_files, args.big_mib, args.small_files)
        generate_large(large, args.large_mib)
        warm(tree)
        warm(large)

        one_lane = "VELDRO_HASH_LANES=1 "

        def dst(name):
            return os.path.join(out, name)

        def veldro_run(src, name, *extra, program=veldro, env=""):
            return sh(f'{env}"{program}" -p "{src}" -d "{dst(name)}" -m -i {" ".join(extra)} > "{dst(name)}.report"')

        def cp_md5(src, name, sums=("md5sum",)):
            script = f'cp -a "{src}" "{dst(name)}"'
            for tool in sums:
                script += (f'; (cd "{src}" && find . -type f -print0 | xargs -0 {tool}) > "{dst(name)}.src.{tool}"'
                           f'; (cd "{dst(name)}" && find . -type f -print0 | xargs -0 {tool}) > '
                           f'"{dst(name)}.dst.{tool}"; cmp -s "{dst(name)}.src.{tool}" "{dst(name)}.dst.{tool}"')
            return sh(script)

        def hashdeep_run(src, name):
            return sh(f'(cd "{src}" && hashdeep -c md5 -r -l .) > "{dst(name)}.known"; '
                      f'cp -a "{src}" "{dst(name)}"; '
                      f'cd "{dst(name)}" && hashdeep -c md5 -r -l -a -k "{dst(name)}.known" . > /dev/null')

        def rsync_run(src, name):
            return sh(f'rsync -a "{src}/" "{dst(name)}/"; rsync -ac "{src}/" "{dst(name)}/"')

        groups = {
            "tree, copy + MD5 both sides": [
                ("veldro -H", lambda: veldro_run(tree, "v_tree", "-H", f'"{dst("v_tree")}.hash"')),
                ("one lane -H", lambda: veldro_run(tree, "l_tree", "-H", f'"{dst("l_tree")}.hash"', env=one_lane)),
                ("cp -a + md5sum both", lambda: cp_md5(tree, "c_tree")),
                ("hashdeep pipeline", lambda: hashdeep_run(tree, "h_tree")),
                ("rsync -a + rsync -ac", lambda: rsync_run(tree, "r_tree")),
            ],
            f"one {args.large_mib} MiB file, copy + MD5 both sides": [
                ("veldro -H", lambda: veldro_run(large, "v_large", "-H", f'"{dst("v_large")}.hash"')),
                ("one lane -H", lambda: veldro_run(large, "l_large", "-H", f'"{dst("l_large")}.hash"', env=one_lane)),
                ("cp -a + md5sum both", lambda: cp_md5(large, "c_large")),
                ("md5sum once", lambda: sh(f'md5sum "{large}/large.bin" > "{dst("m_large")}"')),
            ],
            "tree, copy only": [
                ("veldro", lambda: veldro_run(tree, "v_copy")),
                ("cp -a", lambda: sh(f'cp -a "{tree}" "{dst("c_copy")}"')),
            ],
        }
        threads_group = "tree, copy + MD5 both sides, threads"
        if threads:
            groups[threads_group] = [
                ("veldro -H", lambda: veldro_run(tree, "t_tree", "-H", f'"{dst("t_tree")}.hash"')),
                ("veldro -H --THREADS=1",
                 lambda: veldro_run(tree, "t1_tree", "--THREADS=1", "-H", f'"{dst("t1_tree")}.hash"')),
                ("one lane --THREADS=1",
                 lambda: veldro_run(tree, "l1_tree", "--THREADS=1", "-H", f'"{dst("l1_tree")}.hash"', env=one_lane)),
                ("cp -a", lambda: sh(f'cp -a "{tree}" "{dst("tc_copy")}"')),
                ("cp -a + md5sum both", lambda: cp_md5(tree, "tc_tree")),
            ]
        for option, tool, kind in (("--SHA3", "sha384sum", "SHA-384"), ("--SHA5", "sha512sum", "SHA-512")):
            groups[f"tree, copy + MD5 + {kind} both sides"] = [
                (f"veldro -H {option}",
                 lambda option=option: veldro_run(tree, "s_tree", "-H", f'"{dst("s_tree")}.hash"', option)),
                (f"cp -a + md5sum + {tool}", lambda tool=tool: cp_md5(tree, "cs_tree", ("md5sum", tool))),
            ]
        if args.baseline:
            other = os.path.abspath(args.baseline)
            groups["tree, copy + MD5 both sides"].append(
                ("baseline -H", lambda: veldro_run(tree, "b_tree", "-H", f'"{dst("b_tree")}.hash"', program=other)))
            groups[f"one {args.large_mib} MiB file, copy + MD5 both sides"].append(
                ("baseline -H", lambda: veldro_run(large, "b_large", "-H", f'"{dst("b_large")}.hash"', program=other)))
            groups["tree, copy only"].append(("baseline", lambda: veldro_run(tree, "b_copy", program=other)))
        times = {(g, name): [] for g, runs in groups.items() for name, _ in runs}
        for r in range(args.rounds):
            for g, runs in groups.items():
                shift = r % len(runs)
                for name, argv in runs[shift:] + runs[:shift]:
                    shutil.rmtree(out, ignore_errors=True)
                    os.makedirs(out)
                    times[(g, name)].append(timed(argv()))
            print(f"round {r + 1}: " + ", ".join(f"{g.split(',')[0]}/{n} {v[-1]:.3f}s"
                                                   for (g, n), v in times.items()), flush=True)

        print(f"\nmachine: {machine()}; {lanes()}; rounds: {args.rounds}; in {where}")
        for g, runs in groups.items():
            print(f"\n{g}")
            base = statistics.median(times[(g, runs[0][0])])
            print(f"  {runs[0][0]:<28}{base:8.3f} s")
            for name, _ in runs[1:]:
                m = statistics.median(times[(g, name)])
                print(f"  {name:<28}{m:8.3f} s   veldro / this {base / m:5.2f}")
            if g == threads_group:
                one = statistics.median(times[(g, "veldro -H --THREADS=1")])
                pipeline = statistics.median(times[(g, "cp -a + md5sum both")])
                print(f"  --THREADS=1 / cp -a + md5sum both {one / pipeline:5.2f}")
        if not threads:
            print(f"\n{threads_group}\n  skipped: the program does not know --THREADS "
                  "(it did not refuse an empty --THREADS=, as it refuses an option it knows)")
        if args.memory_files > 0:
            shutil.rmtree(tree, ignore_errors=True)
            shutil.rmtree(large, ignore_errors=True)
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            generate_tiny(tree, args.memory_files)
            _, peak_kib = timed_with_memory([veldro, "-p", tree, "-d", dst("m_tree"), "-m", "-i", "-H",
                                             dst("m_tree.hash")], dst("m_tree.report"))
            print(f"\npeak memory, -H on {args.memory_files:,} tiny files: {peak_kib / 1024:.1f} MiB "
                  f"(load average {os.getloadavg()[0]:.2f})")
        return 0
    finally:
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(tree, ignore_errors=True)
        shutil.rmtree(large, ignore_errors=True)
        if mounted:
            subprocess.run(["umount", work])
        if not args.dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
