"""Selection criteria on real trees: ages in days and against dates with the
A, C and W letters, sizes, the time compared by the newer test, and --ZERO."""

import datetime
import os
import shutil
import tempfile
import time
import unittest

from veldro_e2e import TreeCase, run


def local_noon_days_ago(days):
    """ns since 1970 of local noon `days` calendar days before today."""
    noon = datetime.datetime.combine(datetime.date.today() - datetime.timedelta(days=days), datetime.time(12))
    return int(time.mktime(noon.timetuple())) * 1_000_000_000


def date_text(days_ago):
    d = datetime.date.today() - datetime.timedelta(days=days_ago)
    return d.strftime("%m-%d-%Y")


class CriteriaCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.src = self.path("src")
        self.dst = self.path("dst")
        os.makedirs(self.src)

    def aged(self, name, days, size=10, access_days=None):
        full = self.write("src/" + name, b"x" * size)
        atime = local_noon_days_ago(access_days if access_days is not None else days)
        os.utime(full, ns=(atime, local_noon_days_ago(days)))
        return full

    def select(self, *criteria):
        shutil.rmtree(self.dst, ignore_errors=True)
        result = run(["-p", self.src, "-d", self.dst, "-m", "-i", "-1", self.path("logs", "run.log") + "!8"]
                     + list(criteria))
        self.assertIn(result.status, (0,), repr(result))
        return sorted(os.listdir(self.dst)) if os.path.isdir(self.dst) else []

    def reasons(self):
        with open(self.path("logs", "run_NOT_COPIED.log")) as f:
            return f.read()


class AgeInDaysTest(CriteriaCase):
    def test_older_younger_and_the_band_between(self):
        for days in (2, 3, 6, 7, 29, 30, 31):
            self.aged("d%02d" % days, days)
        self.assertEqual(self.select("-g", "30"), ["d30", "d31"])
        self.assertIn("d29| reason: AGE Criteria", self.reasons())
        self.assertEqual(self.select("-l", "7"), ["d02", "d03", "d06"])
        self.assertEqual(self.select("-g", "3", "-l", "7"), ["d03", "d06"])

    def test_future_files_fail_whenever_an_age_is_asked_for(self):
        self.aged("future", -3)
        self.aged("today", 0)
        self.assertEqual(self.select("-l", "5"), ["today"])
        self.assertEqual(self.select(), ["future", "today"])

    def test_the_days_form_follows_the_chosen_time(self):
        self.aged("written_long_ago_read_today", 40, access_days=0)
        self.assertEqual(self.select("-g", "30"), ["written_long_ago_read_today"])
        self.assertEqual(self.select("-g", "30", "-Ta"), [])

    def test_a_date_without_letters_is_a_day_count(self):
        for days in (39, 40, 41):
            self.aged("d%02d" % days, days)
        self.assertEqual(self.select("-g", date_text(40)), ["d40", "d41"])


class AgeAgainstDatesTest(CriteriaCase):
    def test_dates_with_letters_cut_at_that_midnight(self):
        for days in (9, 10, 11):
            self.aged("d%02d" % days, days)
        # Before the date's midnight (and after 1980).
        self.assertEqual(self.select("-g", date_text(10) + "w"), ["d11"])
        # After it (and before the end of today).
        self.assertEqual(self.select("-l", date_text(10) + "w"), ["d09", "d10"])

    def test_either_lettered_time_may_lie_in_the_band(self):
        self.aged("read_recently", 100, access_days=1)
        self.aged("untouched", 100)
        self.assertEqual(self.select("-l", date_text(10) + "w"), [])
        self.assertEqual(self.select("-l", date_text(10) + "aw"), ["read_recently"])


class SizeTest(CriteriaCase):
    def test_size_limits_include_their_own_value(self):
        for size in (99, 100, 101):
            self.aged("s%d" % size, 1, size=size)
        self.assertEqual(self.select("-G", "100"), ["s100", "s101"])
        self.assertEqual(self.select("-L", "100"), ["s100", "s99"])
        self.assertIn("s101| reason: SIZE Criteria", self.reasons())
        self.assertEqual(self.select("-G", "100", "-L", "100"), ["s100"])


class ZeroDateTest(TreeCase):
    """A time of 1 (a date emptied by an extraction tool) exists only on file
    systems that reach back to 1601, such as tmpfs."""

    def test_zero_dated_source_counts_as_newer_with_zero(self):
        if not os.path.isdir("/dev/shm"):
            self.skipTest("no tmpfs at /dev/shm to hold a 1601 date")
        base = tempfile.mkdtemp(prefix="veldro-zero-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, base, True)
        src, dst = os.path.join(base, "src"), os.path.join(base, "dst")
        os.makedirs(src)
        os.makedirs(dst)
        one_tick = -11_644_473_600 * 1_000_000_000 + 100
        with open(os.path.join(src, "z.bin"), "wb") as f:
            f.write(b"zero")
        os.utime(os.path.join(src, "z.bin"), ns=(1_600_000_000_000_000_000, one_tick))
        if os.stat(os.path.join(src, "z.bin")).st_mtime_ns != one_tick:
            self.skipTest("this file system cannot hold a 1601 date")
        with open(os.path.join(dst, "z.bin"), "wb") as f:
            f.write(b"later")

        plain = run(["-p", src, "-d", dst, "-i"])
        self.assertStatus(plain, 0)
        with open(os.path.join(dst, "z.bin"), "rb") as f:
            self.assertEqual(f.read(), b"later")

        zero = run(["-p", src, "-d", dst, "-i", "--ZERO"])
        self.assertStatus(zero, 0)
        with open(os.path.join(dst, "z.bin"), "rb") as f:
            self.assertEqual(f.read(), b"zero")
        christmas_1601 = datetime.datetime(1601, 12, 25, 8, tzinfo=datetime.timezone.utc)
        epoch = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
        expected = int((christmas_1601 - epoch).total_seconds()) * 1_000_000_000
        self.assertEqual(os.stat(os.path.join(dst, "z.bin")).st_mtime_ns, expected)
        # The source keeps its own date, even with RESET.
        self.assertEqual(os.stat(os.path.join(src, "z.bin")).st_mtime_ns, one_tick)
        run(["-p", src, "-d", dst, "-i", "--ZERO", "-R"])
        self.assertEqual(os.stat(os.path.join(src, "z.bin")).st_mtime_ns, one_tick)


if __name__ == "__main__":
    unittest.main()
