"""The memo asked for by the INI file: typed on a terminal or piped in,
collected by its rules, and kept in the memo file and the default log."""

import os
import time
import unittest

from veldro_e2e import PtyRun, TreeCase, clean_env, run

PROMPT_END = b"End with two blank lines (carriage returns)\x07"


class MemoCase(TreeCase):
    def setUp(self):
        super().setUp()
        self.write("src/a.txt", "alpha")
        os.makedirs(self.path("logs"))
        self.memo_file = self.path("notes", "Memo.txt")
        os.makedirs(os.path.dirname(self.memo_file))
        # The shared INI file of the working directory; the program's own
        # INI file beside it is not there.
        self.write("KANDRELX.INI", "[OTHER]\nSILENT=ON\n[BASE]\nMEMO=" + self.memo_file + "\n")
        self.log = self.path("logs", "RUN.LOG")
        self.args = ["-p", self.path("src"), "-d", self.path("dst"), "-m", "-1", self.log]

    def memo_text(self):
        with open(self.memo_file) as f:
            return f.read()

    def log_text(self):
        with open(self.log) as f:
            return f.read()

    def type_memo(self, lines, pause=0.0):
        session = PtyRun(self.args, cwd=self.tmp, env=clean_env())
        session.read_until(PROMPT_END)
        self.assertIn(PROMPT_END, session.output, session.text)
        self.assertIn(b"Input up to 2000 characters of your memo information now.\n", session.output.replace(b"\r", b""))
        for line in lines:
            session.send(line + "\r")
            if pause:
                time.sleep(pause)
        status = session.wait()
        self.assertEqual(status, 0, session.text[-3000:])
        return session


class TestMemoOnTerminal(MemoCase):
    def test_a_blank_line_between_text_lines_is_kept_and_two_end_the_memo(self):
        self.type_memo(["Case 7: laptop seized", "", "Room 12, shelf B", "", "", "not part of it"])
        memo = self.memo_text()
        self.assertIn("\nCase 7: laptop seized\n\nRoom 12, shelf B\n\n", memo)
        self.assertIn("MEMO", memo)
        self.assertNotIn("not part of it", memo)
        self.assertTrue(os.path.exists(self.path("dst", "a.txt")), "the run goes on after the memo")

    def test_the_memo_lands_in_the_default_log_after_the_run_header(self):
        self.type_memo(["Exhibit 4711", "", ""])
        log = self.log_text()
        self.assertIn("\n MEMO:\nExhibit 4711\n\n END MEMO\n", log,
                      "the driver writes the memo with config::write_memo_to_logs right after the run header")
        self.assertLess(log.index(" Started "), log.index(" MEMO:"))

    def test_two_blank_lines_right_away_give_an_empty_memo_line(self):
        self.type_memo(["", ""])
        self.assertIn("\n\n", self.memo_text())

    def test_collection_stops_after_the_line_that_reaches_5001_characters(self):
        lines = [chr(ord("a") + i) * 999 for i in range(7)]  # 1,000 characters each with the line end
        self.type_memo(lines, pause=0.1)
        memo = self.memo_text()
        for i in range(6):
            self.assertIn(lines[i] + "\n", memo)
        self.assertNotIn(lines[6][:50], memo)


class TestMemoWithoutTerminal(MemoCase):
    def test_piped_memo_and_end_of_input(self):
        r = run(self.args, cwd=self.tmp, stdin_data=b"first\n\nsecond\n")
        self.assertStatus(r, 0)
        self.assertIn("\nfirst\n\nsecond\n", self.memo_text())

    def test_memo_off_asks_nothing(self):
        self.write("KANDRELX.INI", "[BASE]\nMEMO=OFF\n")
        r = run(self.args, cwd=self.tmp, stdin_data=b"should not be read\n")
        self.assertStatus(r, 0)
        self.assertNotIn("memo information", r.stdout)
        self.assertFalse(os.path.exists(self.memo_file))


if __name__ == "__main__":
    unittest.main()
