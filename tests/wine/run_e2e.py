#!/usr/bin/env python3
"""Runs the end-to-end test files against the Windows program under wine,
a few files at a time, and prints the passed, skipped and failed counts of
each file and in all. Usage: run_e2e.py JOBS test_file.py...
Exits non-zero when a test failed."""

import concurrent.futures
import json
import os
import subprocess
import sys

ONE_FILE = r"""
import json, sys, unittest
sys.path.insert(0, sys.argv[1])
suite = unittest.defaultTestLoader.loadTestsFromName(sys.argv[2])
result = unittest.TextTestRunner(stream=sys.stderr, verbosity=0).run(suite)
reasons = sorted({reason for _, reason in result.skipped})
# A test counts once however many of its subtests skipped or failed.
def tests_of(entries):
    return {getattr(test, "test_case", test).id() for test, _ in entries}
failed = tests_of(result.failures + result.errors)
skipped = tests_of(result.skipped) - failed
print(json.dumps({"run": result.testsRun, "skipped": len(skipped), "failed": len(failed), "reasons": reasons}))
"""


def run_file(path):
    here = os.path.dirname(os.path.abspath(path))
    module = os.path.splitext(os.path.basename(path))[0]
    proc = subprocess.run([sys.executable, "-c", ONE_FILE, here, module], capture_output=True, text=True,
                          timeout=1500)
    try:
        counts = json.loads(proc.stdout.strip().splitlines()[-1])
    except (IndexError, ValueError):
        counts = {"run": 0, "skipped": 0, "failed": 1, "reasons": []}
    return module, counts, proc.stderr


def main():
    jobs = int(sys.argv[1])
    files = sys.argv[2:]
    totals = {"passed": 0, "skipped": 0, "failed": 0}
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for module, counts, log in pool.map(run_file, files):
            passed = counts["run"] - counts["skipped"] - counts["failed"]
            totals["passed"] += passed
            totals["skipped"] += counts["skipped"]
            totals["failed"] += counts["failed"]
            print(f"  {module:<22} {passed:3d} passed, {counts['skipped']:3d} skipped, {counts['failed']:3d} failed")
            for reason in counts["reasons"]:
                print(f"      skipped: {reason}")
            if counts["failed"]:
                print("\n".join("      " + line for line in log.splitlines()[-60:]))
    print(f"wine e2e: {totals['passed']} passed, {totals['skipped']} skipped, {totals['failed']} failed")
    return 1 if totals["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
