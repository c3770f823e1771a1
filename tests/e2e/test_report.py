"""The acquisition report as an examiner opens it: rendered by a real browser
(headless Chromium), then the counts, the failure, mismatch and rename rows
and the seal's digests read from the rendered DOM and compared with the
run's own logs. No file name may add an element or an attribute."""

import os
import re
import shutil
import subprocess
import unittest
from html.parser import HTMLParser

from veldro_e2e import HERE, PtyRun, TreeCase, clean_env, preload_library, preloaded_env, run, skip_under_wine

HOSTILE = "<img src=x onerror=alert(1)>.txt"
HOSTILE2 = "\"'><svg onload=alert(2)>.txt"
YEAR_NS = {2015: 1_430_000_000 * 10**9, 2019: 1_550_000_000 * 10**9, 2024: 1_710_000_000 * 10**9}
VOID = {"meta", "br", "link", "img", "input", "hr", "wbr", "source", "area", "base", "col", "embed", "param"}
ALLOWED = {"html", "head", "meta", "title", "style", "body", "main", "header", "h1", "h2", "p", "span", "section",
           "table", "thead", "tbody", "tr", "th", "td", "div", "b", "br", "code", "pre", "figure", "figcaption",
           "svg", "text", "rect", "title", "footer"}


def browser():
    for name in ("chromium", "chromium-browser"):
        found = shutil.which(name)
        if found:
            return found
    raise unittest.SkipTest("Chromium is not installed (scripts/install-deps.sh --browser installs it): "
                            "the report is not checked in a browser")


class Node:
    def __init__(self, tag, attrs):
        self.tag, self.attrs, self.children = tag, dict(attrs), []

    def text(self):
        return "".join(c if isinstance(c, str) else c.text() for c in self.children)

    def walk(self):
        yield self
        for c in self.children:
            if isinstance(c, Node):
                yield from c.walk()

    def find_all(self, tag):
        return [n for n in self.walk() if n.tag == tag]


class Dom(HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.source = text
        self.root = Node("#document", [])
        self.stack = [self.root]
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs)
        self.stack[-1].children.append(node)
        if tag not in VOID:
            self.stack.append(node)

    def handle_startendtag(self, tag, attrs):
        self.stack[-1].children.append(Node(tag, attrs))

    def handle_endtag(self, tag):
        for i in range(len(self.stack) - 1, 0, -1):
            if self.stack[i].tag == tag:
                del self.stack[i:]
                return

    def handle_data(self, data):
        self.stack[-1].children.append(data)

    def by_id(self, ident):
        found = [n for n in self.root.walk() if n.attrs.get("id") == ident]
        assert len(found) == 1, f"{len(found)} elements with id {ident}"
        return found[0]

    def number(self, ident):
        return int(self.by_id(ident).text().replace(",", ""))

    def rows(self, section):
        """(name, detail) of each row of a list section."""
        out = []
        for tr in self.by_id(section).find_all("tr"):
            cells = tr.find_all("td")
            if cells:
                out.append((cells[1].text(), cells[2].text()))
        return out


class ReportCase(TreeCase):
    def setUp(self):
        super().setUp()
        skip_under_wine("the report names Windows paths; the wine smoke suite reads one")

    def render(self, report):
        """The report's DOM as Chromium builds it from the file."""
        profile = self.path(f"profile{len(os.listdir(self.tmp))}")
        os.mkdir(profile)
        shown = subprocess.run(
            [browser(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--dump-dom", "file://" + report],
            capture_output=True, text=True, timeout=90)
        self.assertIn("<main>", shown.stdout, shown.stderr[-2000:])
        return shown.stdout

    def read_text(self, *parts):
        with open(self.path(*parts), encoding="utf-8", errors="surrogateescape") as f:
            return f.read()

    def assert_no_foreign_markup(self, dom, raw):
        for node in dom.root.walk():
            if node.tag == "#document":
                continue
            self.assertIn(node.tag, ALLOWED, "element from a name?")
            for name, value in node.attrs.items():
                self.assertFalse(name.startswith("on"), f"attribute {name} on <{node.tag}>")
                self.assertNotIn("alert", value or "", f"<{node.tag} {name}>")
        for text in (raw, dom.source):
            self.assertIsNone(re.search(r"https?:", text, re.I), "the report refers to the network")


class VariedRun(ReportCase):
    """One run over a tree holding a failure, a mismatch, a renamed
    duplicate, a named stream and names meant to inject markup."""

    def setUp(self):
        super().setUp()
        browser()
        files = [("src/photo.jpg", 3000, 2015), ("src/docs/report.pdf", 1200, 2019), ("src/docs/notes.txt", 50, 2024),
                 ("src/docs/table.csv", 20, 2024), ("src/a/bad.bin", 64, 2019), ("src/same.txt", 3, 2024),
                 ("src/Same.txt", 4, 2024), ("src/blocked/" + HOSTILE, 7, 2024), ("src/blocked/" + HOSTILE2, 8, 2024),
                 ("src/a/line\nend.txt", 9, 2015)]
        for rel, size, year in files:
            self.write(rel, os.urandom(size), mtime_ns=YEAR_NS[year], atime_ns=YEAR_NS[year])
        # A file standing where the copy needs a directory: both names there fail.
        self.write("dst/blocked", b"in the way")
        streamed = self.path("src", "docs", "notes.txt")
        try:
            os.setxattr(streamed, "user.note", b"hidden words")
            os.utime(streamed, ns=(YEAR_NS[2024], YEAR_NS[2024]))
        except OSError:  # a file system without user attributes
            pass
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = clean_env(LD_PRELOAD=preload_library("corrupt_after_copy.c", "corrupting"),
                        VELDRO_TEST_CORRUPT_NAME="bad.bin",
                        ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        self.report = self.path("logs", "report.html")
        self.result = run(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-1",
                           self.path("logs", "RUN.LOG") + "!255", "-H", self.path("logs", "HASH.TXT"), "--SHA2",
                           "--NOCASE", "--ADSEXTRACT", "--SEAL", "--REPORT=" + self.report], env=env)
        self.raw = self.read_text("logs", "report.html")
        self.dom = Dom(self.render(self.report))

    def test_counts_rows_and_digests_match_the_logs(self):
        self.assertEqual(self.result.status, 9, repr(self.result))
        dom = self.dom
        main_log = self.read_text("logs", "RUN.LOG")
        processed = re.search(r"Processed\s+(\d+) files,\s+([\d,]+) bytes", main_log)
        copied = re.search(r"Copied\s+(\d+) files,\s+([\d,]+) bytes", main_log)
        self.assertEqual(dom.number("files-processed"), int(processed[1]))
        self.assertEqual(dom.number("bytes-processed"), int(processed[2].replace(",", "")))
        self.assertEqual(dom.number("files-copied"), int(copied[1]))
        self.assertEqual(dom.number("bytes-copied"), int(copied[2].replace(",", "")))
        self.assertEqual(dom.number("files-updated"), int(re.search(r"Updated:\s+(\d+)", main_log)[1]))
        self.assertEqual(dom.number("files-new"), int(re.search(r"New:\s+(\d+)", main_log)[1]))
        self.assertEqual(dom.number("files-not-copied"), int(re.search(r"NOT COPIED\s+(\d+) files", main_log)[1]))
        streams = re.search(r"Copied/extracted\s+(\d+) ADS", main_log)
        self.assertEqual(dom.number("streams-extracted"), int(streams[1]))
        self.assertEqual(dom.by_id("exit-status").text(), "9")

        not_copied = [line.rsplit("| ", 1) for line in self.read_text("logs", "RUN_NOT_COPIED.LOG").splitlines()
                      if "| " in line]
        failed = sorted(name for name, reason in not_copied if "COPY ERROR" in reason)
        unverified = sorted(name for name, reason in not_copied if "COPY NOT VERIFIED" in reason)
        self.assertEqual(len(failed), 2)
        self.assertEqual(sorted(name for name, _ in dom.rows("failures")), failed)
        self.assertTrue(all("COPY ERROR" in why for _, why in dom.rows("failures")))
        self.assertEqual(dom.number("files-failed"), 2)
        self.assertEqual(sorted(name for name, _ in dom.rows("mismatches")), unverified)
        # The hash log's mismatches whose copy was there to be hashed.
        differ = sorted(line.split("  | ", 1)[0] for line in self.read_text("logs", "HASH.TXT").splitlines()
                        if line.endswith("[HASH ERROR]") and "FILE NOT FOUND" not in line)
        self.assertEqual(len(differ), 1)
        self.assertEqual(unverified, differ)
        self.assertEqual(dom.number("files-mismatched"), 1)

        copies = re.findall(r"\|(.*?)\| ==> \|(.*?)\|", self.read_text("logs", "RUN_COPIED.LOG"))
        renamed = sorted((s, d) for s, d in copies if os.path.basename(s) != os.path.basename(d))
        self.assertEqual(len(renamed), 1)
        self.assertEqual(sorted(dom.rows("renamed")), renamed)
        self.assertEqual(dom.number("files-renamed"), 1)

        seal = [line.split("  ", 1)[::-1] for line in self.read_text("logs", "RUN.LOG.sha256").splitlines()]
        rows = [(tr.find_all("td")[0].text(), tr.find_all("td")[1].text())
                for tr in dom.by_id("seal").find_all("tr") if tr.find_all("td")]
        self.assertEqual(rows, [tuple(pair) for pair in seal])
        self.assertIn("MD5, SHA-256", dom.by_id("digest-kinds").text())
        self.assertEqual(dom.by_id("hash-log").text(), self.path("logs", "HASH.TXT"))
        self.assertIn("--REPORT=", dom.by_id("command-line").text())

        years = dom.by_id("chart-years").text()
        types = dom.by_id("chart-types").text()
        for label in ("2015", "2019", "2024"):
            self.assertIn(label, years)
        for label in ("jpg", "pdf", "txt"):
            self.assertIn(label, types)

    def test_no_name_adds_markup_and_nothing_refers_to_the_network(self):
        self.assert_no_foreign_markup(self.dom, self.raw)
        shown = [name for name, _ in self.dom.rows("failures")]
        self.assertIn(self.path("src", "blocked", HOSTILE), shown)
        self.assertIn(self.path("src", "blocked", HOSTILE2), shown)
        self.assertTrue(self.raw.endswith("</html>\n"))


class FromTheIniFile(ReportCase):
    def test_ini_names_the_report_which_shows_the_ini_file_and_the_memo(self):
        self.write("src/a.txt", b"alpha")
        self.write("KANDRELX.INI", f"[BASE]\nMEMO={self.path('memo.txt')}\nREPORT={self.path('r.html')}\n"
                                   "Examiner=J. Doe <lab 2>\nNOTES=bag 3\n")
        r = run(["-p", self.path("src"), "-d", self.path("dst"), "-m"], cwd=self.tmp,
                stdin_data=b"Exhibit <4711>\n\n\n")
        self.assertEqual(r.status, 0, repr(r))
        dom = Dom(self.read_text("r.html"))
        self.assertEqual(dom.by_id("ini-file").text(), self.path("KANDRELX.INI"))
        self.assertEqual(dom.by_id("memo").text().strip(), "Exhibit <4711>")
        self.assertEqual((dom.by_id("examiner").text(), dom.by_id("notes").text()), ("J. Doe <lab 2>", "bag 3"))
        self.assertEqual(dom.number("copies-verified"), 0)
        self.assertEqual(dom.by_id("digest-kinds").text(), "no hashing")


class InterruptedRun(ReportCase):
    def test_interrupted_run_leaves_a_complete_report_saying_how_it_ended(self):
        browser()
        self.write_slow_tree()
        report = self.path("logs", "report.html")
        proc = PtyRun(["-p", self.path("src"), "-d", self.path("dst"), "-m", "-i", "-1",
                       self.path("logs", "RUN.LOG") + "!1", "--HASH", "--REPORT=" + report,
                       "--THREADS=1"], env=preloaded_env("slow_copy.c", "slow-copy"))
        proc.read_until("big")
        self.assertIn("NOT FINISHED", self.read_text("logs", "report.html"))
        proc.interrupt()
        self.assertEqual(proc.wait(), 2, proc.text)

        raw = self.read_text("logs", "report.html")
        self.assertTrue(raw.endswith("</html>\n"))
        dom = Dom(self.render(report))
        self.assertEqual(dom.by_id("exit-status").text(), "2")
        self.assertIn("status 2, stopped by the user", dom.by_id("verdict").text())
        processed = re.search(r"Processed\s+(\d+) files", self.read_text("logs", "RUN.LOG"))
        self.assertEqual(dom.number("files-processed"), int(processed[1]))
        self.assert_no_foreign_markup(dom, raw)


def pdf_tool(name):
    if not shutil.which(name):
        raise unittest.SkipTest(f"{name} is not installed (poppler-utils; scripts/install-deps.sh --browser)")
    return name


class PrintedReport(ReportCase):
    """Printed to PDF by Chromium: A4 pages, every word inside its page and
    clear of the others (no clipped chart, no label over the next one), no
    argument broken, margins blank, no blank page."""

    def print_and_check(self, args, max_pages):
        report, pdf = self.path("logs", "report.html"), self.path("report.pdf")
        r = run(args + ["-d", self.path("dst"), "-m", "-1", self.path("logs", "RUN.LOG") + "!31", "-H",
                        self.path("logs", "H.TXT"), "--SEAL", "--REPORT=" + report, "--CASE=2026-042"])
        self.assertEqual(r.status, 0, repr(r))
        subprocess.run([browser(), "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + self.path("p"),
                        "--no-pdf-header-footer", "--print-to-pdf=" + pdf, report], capture_output=True, timeout=180)
        words = subprocess.run([pdf_tool("pdftotext"), "-bbox", pdf, "-"], capture_output=True, text=True).stdout
        pages = re.findall(r'<page width="([\d.]+)" height="([\d.]+)">(.*?)</page>', words, re.S)
        self.assertTrue(1 <= len(pages) <= max_pages, len(pages))
        self.assertRegex(words, r">--REPORT=\S+report\.html<")
        for page, (width, height, body) in enumerate(pages, 1):
            self.assertEqual((round(float(width)), round(float(height))), (595, 842), "A4")
            boxes = [(*map(float, b), t) for *b, t in re.findall(
                r'xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)<', body)]
            for i, (x0, y0, x1, y1, text) in enumerate(boxes):
                self.assertTrue(x1 <= float(width) and y1 <= float(height), (page, text))
                for a0, b0, a1, b1, other in boxes[i + 1:]:
                    self.assertFalse(min(x1, a1) - max(x0, a0) > 1 and min(y1, b1) - max(y0, b0) > 2,
                                     f"page {page}: {text!r} over {other!r}")
        subprocess.run([pdf_tool("pdftoppm"), "-r", "30", "-gray", pdf, self.path("page")], check=True)
        for name in sorted(f for f in os.listdir(self.tmp) if f.startswith("page")):
            with open(self.path(name), "rb") as f:
                _, w, h, _, pixels = f.read().split(maxsplit=4)
            rows = [pixels[y * int(w):(y + 1) * int(w)] for y in range(int(h))]
            margin = rows[:10] + rows[-10:] + [r[:10] + r[-10:] for r in rows]  # 8.5 mm at 30 dpi
            self.assertTrue(min(pixels) < 200 and all(min(r) > 240 for r in margin), name)
        return words

    def test_demo_and_five_thousand_files_over_forty_years_print_whole(self):
        words = self.print_and_check(["-p", os.path.join(HERE, "..", "..", "examples", "case-042")], 4)
        self.assertIn(">2026-042<", words)
        for i in range(5000):
            name = self.path("src", f"d{i % 50}", f"f{i}." + ("txt", "jpg", "pdf", "doc", "eml", f"x{i % 17}")[i % 6])
            os.makedirs(os.path.dirname(name), exist_ok=True)
            with open(name, "wb") as f:
                f.write(b"x" * (i % 300))
            os.utime(name, ((17 + i % 40) * 31_557_600 + 86_400 * (i % 300),) * 2)  # 1987 to 2026
        for i in range(40):
            os.symlink(f"f{i}.txt", self.path("src", "d0", f"link{i}"))
        shutil.rmtree(self.path("dst"))
        shutil.rmtree(self.path("logs"))  # a report standing there would make this run's report.2.html
        for name in [f for f in os.listdir(self.tmp) if f.startswith("page")]:
            os.remove(self.path(name))
        words = self.print_and_check(["-p", self.path("src")], 5)
        for text in (">1991<", ">2026<", ">links,<"):  # every fifth year labelled, from the last
            self.assertIn(text, words)


if __name__ == "__main__":
    unittest.main()
