"""Shared helpers for the end-to-end tests: run the built program on
temporary trees and look at what it left behind."""

import builtins
import io
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.environ.get("VELDRO_BIN", "")
HERE = os.path.dirname(os.path.abspath(__file__))
# The program under test is the Windows build run under wine (through the
# tests/wine/veldro-wine wrapper, named by VELDRO_BIN).
UNDER_WINE = os.environ.get("VELDRO_UNDER_WINE", "") not in ("", "0")
_preload_libraries = {}
# A Z:\\ path (with or without the long-path prefix) up to the next one, a
# bar or the end of its line.
_ZPATH = re.compile(rb"(?:\\\\\?\\)?Z:(\\(?:(?!(?:\\\\\?\\)?Z:\\)[^\r\n|])*)")


def skip_under_wine(reason):
    """Skips the test when the program runs under wine, naming why."""
    if UNDER_WINE:
        raise unittest.SkipTest("under wine: " + reason)


def normalised(data):
    """A log as the Linux build writes it: LF line ends and Linux paths
    where the Windows build writes Z:\\ paths (as the wrapper does for
    what the program prints)."""
    data = data.replace(b"\r\n", b"\n")
    return _ZPATH.sub(lambda m: m.group(1).replace(b"\\", b"/"), data)


def _is_log_name(file):
    name = os.path.basename(os.fsdecode(file)).upper()
    return ".LOG" in name or name.endswith(".TXT")


def _open_normalised(file, mode="r", *args, **kwargs):
    """open() for the test modules under wine: logs read back are
    normalised; everything else is opened as it is."""
    if "r" not in mode or "+" in mode or not isinstance(file, (str, bytes, os.PathLike)):
        return builtins.open(file, mode, *args, **kwargs)
    if not _is_log_name(file):
        return builtins.open(file, mode, *args, **kwargs)
    with builtins.open(file, "rb") as f:
        data = normalised(f.read())
    if "b" in mode:
        return io.BytesIO(data)
    encoding = kwargs.get("encoding") or (args[1] if len(args) > 1 else None) or "utf-8"
    errors = kwargs.get("errors") or "strict"
    return io.StringIO(data.decode(encoding, errors), newline=None)


def program():
    if not BIN or not os.path.exists(BIN):
        raise unittest.SkipTest("VELDRO_BIN does not name the built program")
    return BIN


class Result:
    def __init__(self, status, out, err):
        self.status = status
        self.out = out
        self.err = err

    @property
    def text(self):
        """stdout and stderr as text (invalid bytes escaped)."""
        return self.out.decode("utf-8", "surrogateescape") + self.err.decode("utf-8", "surrogateescape")

    @property
    def stdout(self):
        return self.out.decode("utf-8", "surrogateescape")

    @property
    def stderr(self):
        return self.err.decode("utf-8", "surrogateescape")

    def __repr__(self):
        return f"status={self.status}\n--- stdout\n{self.stdout[-3000:]}\n--- stderr\n{self.stderr[-3000:]}"


def clean_env(**extra):
    """The environment of a run: no variables that change the program's
    behaviour unless a test sets them."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("SILENT", "RESET", "NORESET", "ACCT", "WIDTH", "NO_COLOR", "THREADS")}
    env.update({k: str(v) for k, v in extra.items()})
    return env


def run(args, cwd=None, env=None, stdin_data=b"", timeout=120):
    """Runs the program without a terminal; returns a Result."""
    proc = subprocess.run([program()] + [os.fsencode(a) if isinstance(a, str) else a for a in args],
                          cwd=cwd, env=env if env is not None else clean_env(),
                          input=stdin_data, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)
    return Result(proc.returncode, proc.stdout, proc.stderr)


class PtyRun:
    """The program on a pseudo-terminal, for prompts and keys."""

    def __init__(self, args, cwd=None, env=None):
        skip_under_wine("console prompts, keys and redraws on a terminal")
        self.pid, self.fd = pty.fork()
        if self.pid == 0:  # child
            try:
                os.chdir(cwd or os.getcwd())
                os.execve(program(), [program()] + list(args), env if env is not None else clean_env())
            finally:
                os._exit(127)
        self.output = b""

    def read_until(self, text, timeout=20):
        """Reads until `text` (bytes or str) shows up; returns all output so far."""
        if isinstance(text, str):
            text = text.encode()
        deadline = time.time() + timeout
        while text not in self.output and time.time() < deadline:
            ready, _, _ = select.select([self.fd], [], [], 0.2)
            if ready:
                try:
                    chunk = os.read(self.fd, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                self.output += chunk
        return self.output

    def send(self, data):
        os.write(self.fd, data.encode() if isinstance(data, str) else data)

    def interrupt(self):
        os.kill(self.pid, signal.SIGINT)

    def wait(self, timeout=30):
        """Collects the rest of the output and the exit status."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            ready, _, _ = select.select([self.fd], [], [], 0.2)
            if ready:
                try:
                    chunk = os.read(self.fd, 65536)
                except OSError:
                    chunk = b""
                if chunk:
                    self.output += chunk
                    continue
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                try:
                    while True:
                        chunk = os.read(self.fd, 65536)
                        if not chunk:
                            break
                        self.output += chunk
                except OSError:
                    pass
                os.close(self.fd)
                return os.waitstatus_to_exitcode(status)
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        os.close(self.fd)
        raise AssertionError("program did not end; output:\n" + self.output.decode(errors="replace"))

    @property
    def text(self):
        return self.output.decode("utf-8", "replace")


class TreeCase(unittest.TestCase):
    """A test with a scratch directory `self.tmp` removed afterwards."""

    def setUp(self):
        program()
        if UNDER_WINE:
            # The test module reads logs back through the wrapper's
            # normalisation.
            sys.modules[type(self).__module__].open = _open_normalised
        self.tmp = tempfile.mkdtemp(prefix="veldro-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def mount_ext4(self, image, size_mib):
        """Makes an ext4 file system in `image` and loop-mounts it at
        `image`.mnt, unmounted after the test; skips where that cannot be."""
        skip_under_wine("a Linux loop device")
        if os.geteuid() != 0 or shutil.which("mkfs.ext4") is None:
            self.skipTest("a loop-mounted ext4 image needs root and mkfs.ext4")
        mnt = image + ".mnt"
        os.makedirs(mnt)
        with open(image, "wb") as f:
            f.truncate(size_mib << 20)
        subprocess.run(["mkfs.ext4", "-q", image], check=True)
        if subprocess.run(["mount", "-o", "loop", image, mnt], capture_output=True).returncode != 0:
            self.skipTest("the image could not be loop-mounted")
        self.addCleanup(subprocess.run, ["umount", "-l", mnt], capture_output=True)
        return mnt

    def write(self, rel, data=b"x", mtime_ns=None, atime_ns=None):
        """Creates a file below the scratch directory (parents made)."""
        full = self.path(rel)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        if mtime_ns is not None or atime_ns is not None:
            st = os.stat(full)
            os.utime(full, ns=(atime_ns if atime_ns is not None else st.st_atime_ns,
                               mtime_ns if mtime_ns is not None else st.st_mtime_ns))
        return full

    def write_slow_tree(self):
        """src/ with three small files and four of 48 MiB: a copy of it lasts
        long enough to be interrupted among the large ones."""
        for i in range(3):
            self.write(f"src/a/small{i}.txt", b"small")
        block = os.urandom(1 << 20)
        for i in range(4):
            with open(self.path("src", f"big{i}.bin"), "wb") as f:
                for _ in range(48):
                    f.write(block)

    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            data = f.read()
        return normalised(data) if UNDER_WINE and _is_log_name(rel) else data

    def assertStatus(self, result, status):
        self.assertEqual(result.status, status, repr(result))


def preloaded_env(source_name, purpose, **extra):
    """The clean environment with a fault-injecting library preloaded; a
    sanitizer build accepts a library loaded before its runtime."""
    asan = os.environ.get("ASAN_OPTIONS", "")
    return clean_env(LD_PRELOAD=preload_library(source_name, purpose),
                     ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0", **extra)


def preload_library(source_name, purpose):
    """Builds tests/e2e/support/<source_name> into a preload library once per
    run; skips the test (naming `purpose`) when no C compiler can build it."""
    skip_under_wine(f"the {purpose} preload library works on Linux calls only")
    if source_name not in _preload_libraries:
        compiler = shutil.which("cc") or shutil.which("gcc")
        if compiler is None:
            raise unittest.SkipTest(f"no C compiler to build the {purpose} preload library")
        target = os.path.join(tempfile.mkdtemp(prefix="veldro-shim-"), os.path.splitext(source_name)[0] + ".so")
        build = subprocess.run([compiler, "-shared", "-fPIC", "-O1", "-o", target,
                                os.path.join(HERE, "support", source_name), "-ldl"],
                               capture_output=True)
        if build.returncode != 0:
            raise unittest.SkipTest(f"the {purpose} preload library does not build: " + build.stderr.decode())
        _preload_libraries[source_name] = target
    return _preload_libraries[source_name]
