"""The console summary, the default log, the -E log, the DFXML and the report
show the same start, end, time taken and counts; copies = new + updated."""

import calendar
import os
import re
import subprocess
import time
import xml.etree.ElementTree as ET

from veldro_e2e import TreeCase, clean_env, preload_library, program, skip_under_wine

OLD_NS, NEW_NS = 1_500_000_000 * 10**9, 1_700_000_000 * 10**9
DF = "{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}"
VX = "{urn:x-veldro:manifest:1}"
COPIED = {"copied new", "updated", "verified", "source changed"}
CTIME = r"(\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})"
# Each figure: its words in the summaries, its id in the report.
FIGURES = [("processed", r"Processed\s+(\d+) files[.,]", "files-processed"),
           ("copied", r"Copied\s+(\d+) files,", "files-copied"),
           ("bytes", r"Processed\s+\d+ files[.,]\s+([\d,]+) bytes", "bytes-processed"),
           ("bytes copied", r"Copied\s+\d+ files,\s+([\d,]+) bytes", "bytes-copied"),
           ("updated", r"Updated:\s+(\d+)", "files-updated"), ("new", r"New:\s+(\d+)", "files-new")]

# name, src/ files (name: mtime), dst/ files (or "listed"), options, file
# corrupted (times), expected (copied, new, updated), status.
RUNS = [
    ("copy", {"a.txt": NEW_NS, "b.txt": NEW_NS, "c.bin": OLD_NS}, None, [], None, (3, 3, 0), 0),
    ("skip and update", {"old.txt": OLD_NS, "upd.txt": NEW_NS, "new.txt": NEW_NS},
     {"old.txt": NEW_NS, "upd.txt": OLD_NS}, [], None, (2, 1, 1), 0),
    ("fail", {"blocked/x.txt": NEW_NS, "blocked/y.txt": NEW_NS, "ok.txt": NEW_NS}, {"blocked": OLD_NS}, [], None,
     (1, 1, 0), 9),
    ("mismatch", {"bad.bin": NEW_NS, "good.txt": NEW_NS}, None, ["--RET=2"], ("bad.bin", 99), (1, 1, 0), 9),
    ("retry", {"bad.bin": NEW_NS, "good.txt": NEW_NS}, None, ["--RET=2"], ("bad.bin", 1), (2, 2, 0), 0),
    ("rename", {"same.txt": NEW_NS, "Same.txt": NEW_NS}, None, ["--NOCASE"], None, (2, 1, 1), 0),
    ("list", {"l1.txt": NEW_NS, "l2.txt": NEW_NS}, "listed", [], None, (2, 1, 1), 0),
]


def seconds(text, form="%a %b %d %H:%M:%S %Y"):
    return calendar.timegm(time.strptime(text, form))


def elapsed(text):  # " 1 hrs. 2 mins. 5 secs."
    return sum(int(n) * f for n, f in zip(re.findall(r"\d+", text), (3600, 60, 1)))


def number(pattern, text):
    found = re.findall(pattern, text)
    assert len(found) == 1, (pattern, found)
    return int(found[0].replace(",", ""))


class Figures(TreeCase):
    def run_case(self, name, files, existing, options, corrupt):
        for rel, mtime in files.items():
            self.write(f"src/{rel}", rel.encode() * 100, mtime_ns=mtime)
        args = ["-p", self.path("src"), "-d", self.path("dst")] + options
        if existing == "listed":
            self.write("list.txt", "".join(self.path("src", rel) + "\n" for rel in files))
            args = ["-S", self.path("list.txt"), "-d", self.path("dst")]
            existing = {self.path("src", "l2.txt")[1:]: OLD_NS}  # below dst/, by its full path
        for rel, mtime in (existing or {}).items():
            self.write(f"dst/{rel}", b"earlier", mtime_ns=mtime)
        env = clean_env(TZ="UTC")
        if corrupt:
            asan = os.environ.get("ASAN_OPTIONS", "")
            env.update(LD_PRELOAD=preload_library("corrupt_after_copy.c", "corrupting"),
                       VELDRO_TEST_CORRUPT_NAME=corrupt[0], VELDRO_TEST_CORRUPT_TIMES=str(corrupt[1]),
                       ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        logs = self.path("logs")
        os.makedirs(logs)
        args += ["-1", f"{logs}/RUN.LOG!255", "-E", f"{logs}/ERR.LOG", "-H", f"{logs}/HASH.TXT",
                 f"--DFXML={logs}/run.xml", f"--REPORT={logs}/report.html"] + ([] if name == "copy" else ["-m"])
        proc = subprocess.Popen([program()] + args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        time.sleep(1.2 if name == "copy" else 0)  # the first run starts well before its header
        out, err = proc.communicate(b"Y", timeout=120)
        return proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def test_every_output_shows_the_same_figures(self):
        skip_under_wine("the list's destinations and the zone's names are read as Linux gives them")
        root = self.tmp
        for i, (name, files, existing, options, corrupt, expected, status) in enumerate(RUNS):
            with self.subTest(run=name):
                self.tmp = os.path.join(root, str(i))
                got, out, err = self.run_case(name, files, existing, options, corrupt)
                self.assertEqual(got, status, out[-2000:] + err[-2000:])
                log = self.read("logs/RUN.LOG").decode()
                errors = self.read("logs/ERR.LOG").decode()
                report = self.read("logs/report.html").decode()
                xml = ET.parse(self.path("logs", "run.xml")).getroot()
                iso = xml.find(f"{DF}creator/{DF}execution_environment/{DF}start_time").text
                started = {seconds(re.search(r"\n Started " + CTIME + " GMT", t)[1]) for t in (out, log, errors)}
                started |= {seconds(iso, "%Y-%m-%dT%H:%M:%SZ"),
                            seconds(re.search(r'id="started">([^<]+) UTC<', report)[1], "%Y-%m-%d %H:%M:%S")}
                self.assertEqual(len(started), 1, started)
                ended = seconds(re.search(r"\n Finished " + CTIME, log)[1])
                self.assertIn(f'id="ended">{time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(ended))} UTC<', report)
                took = {elapsed(t) for t in re.findall(r"Elapsed(?: time:  |: )(.*)", out + log)}
                self.assertEqual(took, {ended - started.pop()})
                report_took = float(re.search(r'id="elapsed">([\d.]+) seconds<', report)[1])
                self.assertLessEqual(abs(report_took - took.pop()), 1.0)  # tenths rounded, seconds cut
                summary = out[out.rindex("\n  Processed  "):]
                console = {k: number(p, summary) for k, p, _ in FIGURES}
                self.assertEqual({k: number(p, log) for k, p, _ in FIGURES}, console)
                self.assertEqual({k: number(f'id="{i}">([\\d,]+)<', report) for k, _, i in FIGURES}, console)
                self.assertEqual(re.findall(r"Processed (\d+) files\.   Copied ([\d,]+) bytes in (\d+) files", errors),
                                 [(str(console["processed"]), f'{console["bytes copied"]:,}', str(console["copied"]))])
                copies = [o.findtext(f"{VX}copy") for o in xml.iter(f"{DF}fileobject")
                          if o.findtext(f"{VX}verdict") in COPIED and o.find(f"{VX}parent") is None]
                dfxml = (len(copies), copies.count("new"), copies.count("updated"))
                self.assertEqual(dfxml, (console["copied"], console["new"], console["updated"]))
                self.assertEqual(dfxml, expected)
                of_which = re.search(r"of which\s+(\d+) (?:is a|are) NEW", out)
                self.assertEqual(int(of_which[1]) if of_which else console["new"], console["new"])
