#!/usr/bin/env python3
"""Tree-copy benchmark: the program against `cp -a` and `rsync -a` on one
generated tree, in one run, on one file system, with the source cached.

Runs, each repeated and reported by its median:
  first copy   veldro -p SRC -d DST -i (report to a file)  vs  cp -a, rsync -a
  rerun        veldro over an up-to-date DST               vs  rsync -a over its own copy
and the peak memory of the program's first copy on the full tree and on a
tree with a tenth of the small files, to show whether it grows with the
number of files.

Each timed run starts after a sync and a short pause, so that none pays
for the write-back of another; the order of the three first copies turns
from round to round.

Usage: copy_tree.py VELDRO_BIN [--dir D] [--rounds N] [--big-files N]
                    [--big-mib N] [--small-files N] [--settle S]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def generate(root, big_files, big_mib, small_files, seed=7):
    """big_files files of big_mib MiB, and small_files files of 1-8 KiB in
    directories of 200 files, two levels deep."""
    rng = random.Random(seed)
    os.makedirs(root)
    block = os.urandom(1 << 20)
    for i in range(big_files):
        with open(os.path.join(root, f"big{i:02d}.bin"), "wb") as f:
            for _ in range(big_mib):
                f.write(block)
    pool = os.urandom(8192 * 16)
    for i in range(small_files):
        d = os.path.join(root, f"d{i // 2000:03d}", f"s{(i // 200) % 10:02d}")
        if i % 200 == 0:
            os.makedirs(d, exist_ok=True)
        size = rng.randint(1024, 8192)
        start = rng.randint(0, len(pool) - size)
        with open(os.path.join(d, f"f{i:06d}.dat"), "wb") as f:
            f.write(pool[start:start + size])


def warm(root):
    """Reads every file once so that all runs find the source cached."""
    for dirpath, _, names in os.walk(root):
        for n in names:
            with open(os.path.join(dirpath, n), "rb") as f:
                while f.read(1 << 20):
                    pass


def timed(argv, stdout_path=None):
    """Runs a command; returns (seconds, peak RSS in KiB)."""
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
    finally:
        if stdout_path:
            out.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"{' '.join(argv)} ended with status {code}")
    return elapsed, usage.ru_maxrss


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("veldro")
    ap.add_argument("--dir", default=None, help="scratch directory (default: a new one in /var/tmp)")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--big-files", type=int, default=16)
    ap.add_argument("--big-mib", type=int, default=32)
    ap.add_argument("--small-files", type=int, default=20000)
    ap.add_argument("--settle", type=float, default=2.0, help="seconds to wait after each sync")
    args = ap.parse_args()

    for tool in ("cp", "rsync"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is needed for the comparison")
    veldro = os.path.abspath(args.veldro)
    work = args.dir or tempfile.mkdtemp(prefix="veldro-bench-", dir="/var/tmp")
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, "src")
    small_src = os.path.join(work, "src_small")
    try:
        print(f"generating {args.big_files} x {args.big_mib} MiB + {args.small_files} files of 1-8 KiB in {work}")
        generate(src, args.big_files, args.big_mib, args.small_files)
        generate(small_src, args.big_files, args.big_mib, args.small_files // 10)
        warm(src)
        warm(small_src)
        report = os.path.join(work, "report.txt")

        rows = {k: [] for k in ("veldro", "cp -a", "rsync -a", "veldro rerun", "rsync -a rerun", "veldro small")}
        rss = {"veldro": [], "veldro small": []}
        def settle():
            # Each run starts with no write-back of an earlier run pending,
            # so that none pays for another's writing.
            os.sync()
            time.sleep(args.settle)

        for r in range(args.rounds):
            dsts = {k: os.path.join(work, f"dst_{i}") for i, k in enumerate(("veldro", "cp", "rsync", "small"))}
            for d in dsts.values():
                fresh(d)
            os.makedirs(dsts["veldro"])
            os.makedirs(dsts["small"])

            first_copies = [
                ("veldro", [veldro, "-p", src, "-d", dsts["veldro"], "-i"], report),
                ("cp -a", ["cp", "-a", src, dsts["cp"]], None),
                ("rsync -a", ["rsync", "-a", src + "/", dsts["rsync"] + "/"], None),
            ]
            # The order turns from round to round.
            shift = r % len(first_copies)
            for name, argv, out in first_copies[shift:] + first_copies[:shift]:
                settle()
                t, m = timed(argv, out)
                rows[name].append(t)
                if name == "veldro":
                    rss["veldro"].append(m)
            settle()
            t, _ = timed([veldro, "-p", src, "-d", dsts["veldro"], "-i"], report)
            rows["veldro rerun"].append(t)
            settle()
            t, _ = timed(["rsync", "-a", src + "/", dsts["rsync"] + "/"])
            rows["rsync -a rerun"].append(t)
            settle()
            t, m = timed([veldro, "-p", small_src, "-d", dsts["small"], "-i"], report)
            rows["veldro small"].append(t)
            rss["veldro small"].append(m)
            print(f"round {r + 1}: " + ", ".join(f"{k} {v[-1]:.3f}s" for k, v in rows.items()), flush=True)

        med = {k: statistics.median(v) for k, v in rows.items()}
        print()
        print(f"{'run':<18}{'median s':>10}")
        for k, v in med.items():
            print(f"{k:<18}{v:>10.3f}")
        print()
        first_ratio = med["veldro"] / med["cp -a"]
        rerun_ratio = med["veldro rerun"] / med["rsync -a rerun"]
        print(f"first copy / cp -a          {first_ratio:6.2f}  (target <= 1.15)")
        print(f"first copy / rsync -a       {med['veldro'] / med['rsync -a']:6.2f}")
        print(f"rerun / rsync -a no-op      {rerun_ratio:6.2f}  (target <= 2.00)")
        print(f"peak RSS, {args.small_files} small files   {max(rss['veldro'])} KiB")
        print(f"peak RSS, {args.small_files // 10} small files    {max(rss['veldro small'])} KiB")
        ok = first_ratio <= 1.15 and rerun_ratio <= 2.0
        print("targets met" if ok else "targets NOT met")
        return 0 if ok else 1
    finally:
        if args.dir is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
