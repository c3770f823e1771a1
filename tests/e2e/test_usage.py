"""The usage text and the log help: paging on a terminal, all pages
without one, and the statuses they end with."""

import os
import select
import time
import unittest

from veldro_e2e import PtyRun, TreeCase, run, skip_under_wine

PROMPT = b"RETURN TO CONTINUE"
FIRST_LINE = "Usage: veldro  (optional)source_dir  (optional)destination_dir  -[OPTIONS]"
PAGE_2 = "ALTERNATE DATA STREAMS"
PAGE_3 = "SELECTING FILES BY NAME"
PAGE_18 = "--CHK_TILDE\n"
PAGE_19 = "MANIFESTS AND THE SEAL\n"
LOG_HELP_1 = "There are 3 ways to get logfile creations. "
LOG_HELP_4 = "LOGS=keyword,keyword..."


def wait_for_prompts(session, count, timeout=20):
    """Reads until the prompt has been shown `count` times."""
    deadline = time.time() + timeout
    while session.output.count(PROMPT) < count and time.time() < deadline:
        ready, _, _ = select.select([session.fd], [], [], 0.05)
        if ready:
            try:
                chunk = os.read(session.fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            session.output += chunk
    return session.output.count(PROMPT) >= count


class TestWithoutTerminal(TreeCase):
    def test_no_arguments_show_every_page_and_end_with_0(self):
        r = run([])
        self.assertStatus(r, 0)
        self.assertTrue(r.stdout.startswith(FIRST_LINE) or FIRST_LINE in r.stdout)
        for text in (PAGE_2, PAGE_3, PAGE_18, PAGE_19, "3 DATES\\TIMES", "Compiler, "):
            self.assertIn(text, r.stdout)
        self.assertNotIn("RETURN TO CONTINUE", r.text)
        self.assertNotIn("Processed", r.stdout, "the usage ends the program without a summary")

    def test_an_unknown_option_letter_shows_the_usage_and_ends_with_6(self):
        for args in (["-Q"], ["-A", "-Q"], ["-p", self.tmp, "-Q"]):
            r = run(args)
            self.assertStatus(r, 6)
            self.assertIn(FIRST_LINE, r.stdout)
            self.assertIn(PAGE_18, r.stdout)

    def test_log_help_shows_its_four_pages_and_ends_with_6(self):
        for first in ("logs", "LOGS"):
            r = run([first])
            self.assertStatus(r, 6)
            self.assertIn(LOG_HELP_1, r.stdout)
            self.assertIn(LOG_HELP_4, r.stdout)
            self.assertNotIn("RETURN TO CONTINUE", r.text)

    def test_help_and_version(self):

        skip_under_wine("the version line names the platform")
        r = run(["--help"])
        self.assertStatus(r, 0)
        self.assertIn(FIRST_LINE, r.stdout)
        r = run(["--version"])
        self.assertStatus(r, 0)
        self.assertTrue(r.stdout.startswith("VELDRO Ver. "), r.stdout)
        self.assertIn("Linux", r.stdout)

    def test_reading_end_of_input_does_not_fail_a_help_request(self):
        r = run([], stdin_data=b"")
        self.assertStatus(r, 0)


class TestPaging(TreeCase):
    def test_a_key_continues_and_escape_ends_with_6(self):
        session = PtyRun([], cwd=self.tmp)
        self.assertTrue(wait_for_prompts(session, 1), session.text)
        self.assertIn(FIRST_LINE, session.text)
        self.assertNotIn(PAGE_2, session.text)
        session.send("x")
        self.assertTrue(wait_for_prompts(session, 2), session.text)
        self.assertIn(PAGE_2, session.text)
        session.send("\x1b")
        self.assertEqual(session.wait(), 6)
        self.assertNotIn(PAGE_3, session.text)

    def test_escape_at_the_first_prompt_still_shows_the_second_page(self):
        session = PtyRun([], cwd=self.tmp)
        self.assertTrue(wait_for_prompts(session, 1), session.text)
        session.send("\x1b")
        self.assertTrue(wait_for_prompts(session, 2), session.text)
        self.assertIn(PAGE_2, session.text)
        session.send("\x1b")
        self.assertEqual(session.wait(), 6)
        self.assertNotIn(PAGE_3, session.text)

    def test_ctrl_c_at_a_prompt_ends_with_6(self):
        session = PtyRun([], cwd=self.tmp)
        self.assertTrue(wait_for_prompts(session, 1), session.text)
        session.send("\r")
        self.assertTrue(wait_for_prompts(session, 2), session.text)
        session.send("\x03")
        self.assertEqual(session.wait(), 6)
        self.assertNotIn(PAGE_3, session.text)

    def test_every_page_then_the_samples_and_status_0(self):
        session = PtyRun([], cwd=self.tmp)
        for page in range(1, 20):
            self.assertTrue(wait_for_prompts(session, page), f"page {page}: " + session.text[-2000:])
            session.send("\r")
        self.assertEqual(session.wait(), 0)
        self.assertIn("3 DATES\\TIMES", session.text)
        # The prompt is centred in 80 columns: 31 blanks before it.
        self.assertIn(" " * 31 + "RETURN TO CONTINUE", session.text)

    def test_unknown_option_on_a_terminal_pages_and_ends_with_6(self):
        session = PtyRun(["-Q"], cwd=self.tmp)
        for page in range(1, 20):
            self.assertTrue(wait_for_prompts(session, page), f"page {page}")
            session.send(" ")
        self.assertEqual(session.wait(), 6)

    def test_log_help_pages_and_escape(self):
        session = PtyRun(["logs"], cwd=self.tmp)
        self.assertTrue(wait_for_prompts(session, 1), session.text)
        session.send("\r")
        self.assertTrue(wait_for_prompts(session, 2), session.text)
        session.send("\x1b")
        self.assertEqual(session.wait(), 6)
        self.assertNotIn("--error=mask", session.text)

        session = PtyRun(["logs"], cwd=self.tmp)
        for page in range(1, 5):
            self.assertTrue(wait_for_prompts(session, page), f"page {page}")
            session.send("\r")
        self.assertEqual(session.wait(), 6)
        self.assertIn(LOG_HELP_4, session.text)


if __name__ == "__main__":
    unittest.main()
