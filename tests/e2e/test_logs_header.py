"""The run header on the console, in the default log and in the -E error
log, for zones with and without daylight saving (TZ honoured)."""

import calendar
import os
import re
import time
import unittest

from veldro_e2e import TreeCase, clean_env, run, skip_under_wine

# ctime form: "Wed Dec  9 18:30:15 2026"
CTIME = r"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}"


def dst_in_force_now(zone):
    """Whether the C library puts daylight saving in force now in `zone`."""
    saved = os.environ.get("TZ")
    os.environ["TZ"] = zone
    time.tzset()
    try:
        return time.localtime().tm_isdst > 0
    finally:
        if saved is None:
            del os.environ["TZ"]
        else:
            os.environ["TZ"] = saved
        time.tzset()


class RunHeader(TreeCase):
    def setUp(self):
        super().setUp()
        self.write("SRC/a.txt", b"x")

    def start(self, zone, *extra):
        before = int(time.time())
        r = run(["-p", "SRC", "-d", "DST", "-m", "-1", "RUN.LOG", "-E", "ERR.LOG"] + list(extra),
                cwd=self.tmp, env=clean_env(TZ=zone))
        after = int(time.time())
        self.assertStatus(r, 0)
        return r, before, after

    def check_gmt(self, text, before, after):
        """The GMT text is the true UTC clock of some second of the run."""
        shown = calendar.timegm(time.strptime(text, "%a %b %d %H:%M:%S %Y"))
        self.assertTrue(before <= shown <= after, (text, before, after))

    def header_line(self, log_text):
        m = re.search(r"\n Started (" + CTIME + r") GMT, (\d\d:\d\d) (\S+) \((\w*)/(\w*):UTC(-?\d+)(.)\)\n",
                      log_text)
        self.assertIsNotNone(m, log_text)
        return m

    def test_pacific_zone_follows_the_season(self):

        skip_under_wine("the Windows runtime keeps zone names of its own")
        r, before, after = self.start("PST8PDT")
        summer = dst_in_force_now("PST8PDT")
        expected_zone = "(PST/PDT:UTC-7*)" if summer else "(PST/PDT:UTC-8 )"
        for text in (self.read("RUN.LOG").decode(), self.read("ERR.LOG").decode(), r.stdout):
            m = self.header_line(text)
            self.check_gmt(m.group(1), before, after)
            self.assertEqual(m.group(3), "PST")
            self.assertIn(expected_zone, text)
        # Local hh:mm is GMT minus 8 or 7 hours.
        m = self.header_line(r.stdout)
        gmt = calendar.timegm(time.strptime(m.group(1), "%a %b %d %H:%M:%S %Y"))
        local = time.gmtime(gmt - (7 if summer else 8) * 3600)
        self.assertEqual(m.group(2), time.strftime("%H:%M", local))

    def test_zone_always_on_daylight_saving(self):

        skip_under_wine("the Windows runtime keeps zone names of its own")
        # Daylight saving from the first day of the year to past its end.
        zone = "XST8XDT,J1/0,J365/25"
        self.assertTrue(dst_in_force_now(zone))
        r, before, after = self.start(zone)
        text = self.read("RUN.LOG").decode()
        m = self.header_line(text)
        self.check_gmt(m.group(1), before, after)
        self.assertIn(" XST (XST/XDT:UTC-7*)\n", text)
        self.assertIn(" XST (XST/XDT:UTC-7*)\n ", r.stdout)

    def test_zone_without_daylight_saving(self):

        skip_under_wine("the Windows runtime keeps zone names of its own")
        r, before, after = self.start("JST-9")
        text = self.read("RUN.LOG").decode()
        m = self.header_line(text)
        self.check_gmt(m.group(1), before, after)
        self.assertIn(" JST (JST/:UTC9 )\n", text)
        gmt = calendar.timegm(time.strptime(m.group(1), "%a %b %d %H:%M:%S %Y"))
        self.assertEqual(m.group(2), time.strftime("%H:%M", time.gmtime(gmt + 9 * 3600)))

    def test_command_line_lines(self):

        skip_under_wine("the command line names the Windows program")
        r, _, _ = self.start("UTC0", "--BYP=" + self.path("nothing"))
        args = os.environ["VELDRO_BIN"] + " -p SRC -d DST -m -1 RUN.LOG -E ERR.LOG --BYP=" + self.path("nothing") + " "
        log = self.read("RUN.LOG").decode()
        self.assertIn(")\n Command line: " + args + "\n  **** BYPASS DIRS option used\n", log)
        self.assertNotIn("INI_FILE", log)
        errors = self.read("ERR.LOG").decode()
        self.assertTrue(errors.startswith("\n" + "*" * 60 + "\n\n Started "), errors)
        self.assertIn(")\n Command line: " + args + "\n\n", errors)
        self.assertIn(")\n " + args + "\n\n", r.stdout)

    def test_ini_echo_block(self):
        with open(self.path("KANDRELX.INI"), "w") as f:
            f.write("[BASE]\nIMMEDIATE=ON\n")
        self.start("UTC0")
        log = self.read("RUN.LOG").decode()
        m = re.search(r"\n INI_FILE(.*)\n END INI FILE\n", log, re.S)
        self.assertIsNotNone(m, log)
        self.assertIn("IMMEDIATE", m.group(1))

    def test_silent_writes_no_header(self):
        r = run(["-p", "SRC", "-d", "DST", "-m", "-1", "RUN.LOG"], cwd=self.tmp,
                env=clean_env(TZ="UTC0", SILENT="ON"))
        self.assertStatus(r, 0)
        self.assertNotIn("Started", r.stdout)
        self.assertNotIn("Started", self.read("RUN.LOG").decode())


if __name__ == "__main__":
    unittest.main()
