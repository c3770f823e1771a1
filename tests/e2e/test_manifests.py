"""Manifests other tools read, end to end: the DFXML document (validated
against the DFXML schema with xmllint, then parsed and compared with the
files themselves), the known-hash set audited by the real hashdeep, the
seal checked by sha256sum, and the document an interrupted run leaves."""

import calendar
import hashlib
import os
import re
import shutil
import signal
import subprocess
import unittest
import xml.etree.ElementTree as ET

from veldro_e2e import PtyRun, TreeCase, clean_env, preload_library, preloaded_env, run, skip_under_wine

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA = os.environ.get("VELDRO_DFXML_SCHEMA") or os.path.normpath(
    os.path.join(HERE, "..", "..", "..", "shared", "dfxml", "dfxml.xsd"))
DF = "{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}"
VX = "{urn:x-veldro:manifest:1}"
ATIME_NS = 1_300_000_000 * 10**9 + 123_456_789
MTIME_NS = 1_400_000_000 * 10**9 + 987_654_321


def need(tool):
    if shutil.which(tool) is None:
        raise unittest.SkipTest(f"{tool} is not installed (scripts/install-deps.sh installs it)")


def name_bytes(element):
    """The bytes a name element stands for, its escaped form read back."""
    text = element.text or ""
    if element.get(VX + "escaped") != "1":
        return text.encode("utf-8")
    out = bytearray()
    i = 0
    while i < len(text):
        if text.startswith("\\\\", i):
            out += b"\\"
            i += 2
        elif text.startswith("\\x", i):
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            out += text[i].encode("utf-8")
            i += 1
    return bytes(out)


def iso_ns(text):
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d+))?Z", text)
    seconds = calendar.timegm(tuple(int(g) for g in m.groups()[:6]))
    fraction = (m.group(7) or "").ljust(9, "0")
    return seconds * 10**9 + int(fraction)


def digests_of(element, tag):
    return {d.get("type"): d.text for d in element.findall(tag)}


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def file_digests(path):
    data = read_bytes(path)
    return {k: hashlib.new(k, data).hexdigest() for k in ("md5", "sha1", "sha256")}


class VariedTree(TreeCase):
    """One run over a tree with every kind of file the document must carry."""

    def setUp(self):
        super().setUp()
        need("xmllint")
        if not os.path.exists(SCHEMA):
            self.skipTest("the DFXML schema is not at " + SCHEMA)
        src = self.path("src")
        self.files = {}
        for rel, data in [("top.txt", b"top"), ("a/same.txt", b"first"), ("b/same.txt", b"second"),
                          ("a/deep/er/\u00e9t\u00e9 \u65e5\u672c.txt", "non-ASCII".encode()),
                          ("a/line\nend.txt", b"two lines"), ("a/amp&<lt>.txt", b"markup"),
                          ("b/bad.txt", b"made to differ")]:
            self.files[os.fsencode(self.write("src/" + rel, data, mtime_ns=MTIME_NS, atime_ns=ATIME_NS))] = data
        raw = os.path.join(os.fsencode(src), b"a", b"raw\xff\x01name")
        with open(raw, "wb") as f:
            f.write(b"not UTF-8")
        os.utime(raw, ns=(ATIME_NS, MTIME_NS))
        self.files[raw] = b"not UTF-8"
        self.fifo = self.path("src", "b", "pipe")
        os.mkfifo(self.fifo)
        self.streamed = self.write("src/b/streamed.txt", b"s", mtime_ns=MTIME_NS, atime_ns=ATIME_NS)
        try:
            os.setxattr(self.streamed, "user.note", b"hidden words")
            self.streams = True
        except OSError:  # a file system without user attributes
            self.streams = False
        os.utime(self.streamed, ns=(ATIME_NS, MTIME_NS))
        self.files[os.fsencode(self.streamed)] = b"s"
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = clean_env(LD_PRELOAD=preload_library("corrupt_after_copy.c", "corrupting"),
                        VELDRO_TEST_CORRUPT_NAME="bad.txt",
                        ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        self.xml = self.path("logs", "run.xml")
        self.result = run(["-p", src, "-d", self.path("dst"), "-m", "-1", self.path("logs", "RUN.LOG") + "!31",
                           "-H", self.path("logs", "HASH.TXT"), "--SHA1", "--SHA2", "--FLAT", "--NODUPE",
                           "--ADSEXTRACT", "--DFXML=" + self.xml, "--AUDITSET=" + self.path("logs", "known.txt"),
                           "--SEAL", "--CASE=2026-042", "--NOTES=bag 3\x01<sealed>"], env=env)

    def objects(self):
        return ET.parse(self.xml).getroot().findall(DF + "fileobject")

    def test_document_validates_and_matches_the_files(self):
        check = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, self.xml], capture_output=True)
        self.assertEqual(check.returncode, 0, check.stderr.decode())
        root = ET.parse(self.xml).getroot()
        creator = root.find(DF + "creator")
        self.assertEqual(creator.find(DF + "program").text, "VELDRO")
        self.assertIn("--DFXML=", creator.find(f"{DF}execution_environment/{DF}command_line").text)
        case, notes = (root.find(f"{DF}metadata/{VX}{name}") for name in ("case_number", "notes"))
        self.assertEqual((case.text, notes.text, notes.get(VX + "escaped")), ("2026-042", "bag 3\\x01<sealed>", "1"))

        by_name = {name_bytes(o.find(DF + "filename")): o for o in self.objects()}
        for path, data in self.files.items():
            o = by_name.get(path)
            self.assertIsNotNone(o, f"no fileobject for {path!r}; have {list(by_name)}")
            self.assertEqual(int(o.find(DF + "filesize").text), len(data))
            self.assertEqual(iso_ns(o.find(DF + "mtime").text), MTIME_NS, path)
            self.assertEqual(iso_ns(o.find(DF + "atime").text), ATIME_NS, path)
            want = {k: hashlib.new(k, data).hexdigest() for k in ("md5", "sha1", "sha256")}
            self.assertEqual(digests_of(o, DF + "hashdigest"), want, path)
            dest = name_bytes(o.find(VX + "destination"))
            self.assertEqual(digests_of(o, VX + "hashdigest"), file_digests(dest), path)
            verdict = o.find(VX + "verdict").text
            self.assertEqual(verdict, "mismatch" if path.endswith(b"bad.txt") else "verified", path)

        fifo = by_name[os.fsencode(self.fifo)]
        self.assertEqual(fifo.find(VX + "verdict").text, "not copied")
        self.assertIn("NOT A REGULAR FILE", fifo.find(VX + "reason").text)

        renamed = [o for o in self.objects() if o.find(VX + "renamed_from") is not None]
        self.assertEqual(len(renamed), 1)
        self.assertEqual(renamed[0].find(VX + "renamed_from").text, self.path("dst", "same.txt"))
        self.assertEqual(renamed[0].find(VX + "renamed_name").text, "same[0000].txt")

        if self.streams:
            stream = by_name[os.fsencode(self.streamed + ":note")]
            self.assertEqual(stream.find(VX + "parent").text, self.streamed)
            self.assertEqual(read_bytes(stream.find(VX + "destination").text), b"hidden words")

    def test_audit_set_names_the_copy_that_differs_and_the_seal_holds(self):
        need("hashdeep")
        need("sha256sum")
        audit = subprocess.run(["hashdeep", "-r", "-a", "-vv", "-k", self.path("logs", "known.txt"),
                                self.path("dst")], capture_output=True)
        self.assertNotEqual(audit.returncode, 0)
        self.assertIn(b"bad.txt", audit.stdout)

        logs = self.path("logs")
        sealed = subprocess.run(["sha256sum", "-c", "RUN.LOG.sha256"], cwd=logs, capture_output=True)
        self.assertEqual(sealed.returncode, 0, sealed.stdout.decode() + sealed.stderr.decode())
        listed = sealed.stdout.decode()
        for name in ("RUN.LOG", "RUN_COPIED.LOG", "HASH.TXT", "HASH_ERROR.TXT", "run.xml", "known.txt"):
            self.assertIn(name + ": OK", listed)
        with open(self.path("logs", "RUN_COPIED.LOG"), "r+b") as f:
            first = f.read(1)
            f.seek(0)
            f.write(bytes([first[0] ^ 1]))
        altered = subprocess.run(["sha256sum", "-c", "RUN.LOG.sha256"], cwd=logs, capture_output=True)
        self.assertNotEqual(altered.returncode, 0)
        self.assertIn(b"RUN_COPIED.LOG: FAILED", altered.stdout)


class AuditLater(TreeCase):
    """The known-hash set of a clean copy, audited by hashdeep with the
    README's recipe as an examiner would months later, after the copy's
    folder was moved. Only the destination is hashed by the run."""

    def test_audit_passes_untouched_and_names_each_later_change(self):
        skip_under_wine("the audit set names Windows paths, which hashdeep on Linux cannot audit")
        need("hashdeep")
        for rel in ("x/one.txt", "x/y/two.bin", "caf\u00e9.txt", "comma,name.txt", "tab\tcr\rdel\x7f.txt"):
            self.write("src/" + rel, os.urandom(300))
        for target, link in (("one.txt", "x/link"), ("x", "dirlink"), ("nowhere", "dangling")):
            os.symlink(target, self.path("src", link))
        known = self.path("known.txt")
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "--SHA2", "--AUDITSET=" + known])
        self.assertEqual(r.status, 0, repr(r))
        os.rename(self.path("dst"), self.path("moved"))

        def audit():
            return subprocess.run(["hashdeep", "-r", "-l", "-o", "f", "-a", "-vv", "-k", known, "."],
                                  cwd=self.path("moved"), capture_output=True, text=True)

        first = audit()
        self.assertEqual(first.returncode, 0, first.stdout + first.stderr)
        self.assertIn("Audit passed", first.stdout + first.stderr)

        changed = self.path("moved", "x", "y", "two.bin")
        with open(changed, "r+b") as f:
            byte = f.read(1)
            f.seek(0)
            f.write(bytes([byte[0] ^ 0xFF]))
        altered = audit()
        self.assertNotEqual(altered.returncode, 0)
        self.assertIn("two.bin", altered.stdout)

        os.remove(changed)
        self.write("moved/added.txt", b"planted")
        later = audit()
        self.assertNotEqual(later.returncode, 0)
        self.assertIn("added.txt", later.stdout)


class Repeated(TreeCase):
    def test_each_rerun_writes_the_next_numbered_proof_and_says_so(self):
        skip_under_wine("the lines name Linux paths")
        self.write("src/a.txt", b"a")
        logs = self.path("logs")
        args = ["-p", self.path("src"), "-d", self.path("dst"), "-m", "-1", os.path.join(logs, "RUN.LOG"), "--HASH",
                "--SEAL"] + [f"--{o}={os.path.join(logs, n)}" for o, n in
                             (("DFXML", "run.dfxml"), ("AUDITSET", "known.txt"), ("REPORT", "report.html"))]
        runs = [run(args) for _ in range(3)]
        for n, r in enumerate(runs[1:], 2):
            self.assertEqual(r.status, 0, repr(r))
            for name in ("run.dfxml", "known.txt", "report.html", "RUN.LOG.sha256"):
                stem, ext = name.rsplit(".", 1)
                line = f"{os.path.join(logs, name)} exists: this run writes {os.path.join(logs, f'{stem}.{n}.{ext}')}"
                self.assertIn(line, r.stdout)
                self.assertIn(line.encode(), self.read("logs/RUN.LOG"))
        self.assertIn(b"./a.txt", self.read("logs/known.txt"))  # the first run's proof is kept
        self.assertIn(b"  run.3.dfxml\n", self.read("logs/RUN.LOG.3.sha256"))
        self.assertIn(b"RUN.LOG.3.sha256</span>", self.read("logs/report.3.html"))


class ListedFiles(TreeCase):
    def test_listed_files_found_or_not_are_fileobjects(self):
        skip_under_wine("the manifest names Windows paths (the wine smoke suite reads them)")
        found = self.write("src/found.txt", b"listed")
        missing = self.path("src", "missing.txt")
        self.write("list.txt", f"{found}\n{missing}\n")
        xml = self.path("run.xml")
        r = run(["-S", self.path("list.txt"), "-d", self.path("dst"), "-m", "--HASH", "--DFXML=" + xml])
        self.assertEqual(r.status, 3, repr(r))  # a listed file was not there
        verdicts = {o.find(DF + "filename").text: o.find(VX + "verdict").text
                    for o in ET.parse(xml).getroot().findall(DF + "fileobject")}
        self.assertEqual(verdicts, {found: "verified", missing: "not copied"})


class Interrupted(TreeCase):
    def test_interrupted_run_leaves_a_well_formed_document(self):
        # A lost terminal or session and the other ending signals stop the
        # run as Ctrl-C does: every output closed and final.
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1, signal.SIGUSR2):
            with self.subTest(signal=sig.name):
                self.write_slow_tree()
                xml, report = self.path(sig.name + ".xml"), self.path(sig.name + ".html")
                proc = PtyRun(["-p", self.path("src"), "-d", self.path("dst", sig.name), "-m", "-i",
                               "--DFXML=" + xml, "--REPORT=" + report, "--HASH", "--THREADS=1"],
                              env=preloaded_env("slow_copy.c", "slow-copy"))
                proc.read_until("big")
                os.kill(proc.pid, sig)
                self.assertEqual(proc.wait(), 2, proc.text)
                root = ET.parse(xml).getroot()  # raises when not well-formed
                names = [o.find(DF + "filename").text for o in root.findall(DF + "fileobject")]
                self.assertEqual(sum(1 for n in names if "small" in n), 3, names)
                with open(report, encoding="utf-8") as f:
                    self.assertNotIn("NOT FINISHED", f.read())


if __name__ == "__main__":
    unittest.main()
