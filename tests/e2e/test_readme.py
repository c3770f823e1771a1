"""The README's shell examples paste into bash as they stand: no `!` outside
single quotes (expanded even inside double quotes), no unquoted glob."""

import os
import re
import unittest

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def unsafe(line):
    """The first character of a shell line that bash would expand itself, or None."""
    quote, escaped, word_start = None, False, True
    for c in line:
        if escaped:
            escaped = False
        elif quote == "'":
            quote = None if c == "'" else quote
        elif c == "!" or (quote is None and c in "*?["):
            return c
        elif c == "\\":
            escaped = True
        elif quote == '"':
            quote = None if c == '"' else quote
        elif c in "'\"":
            quote = c
        elif c == "#" and word_start:
            return None
        word_start = quote is None and c in " \t;&|("
    return None


class ReadmeExamples(unittest.TestCase):
    def test_recipes_come_first_and_paste_safely_into_bash(self):
        checked = ('-1 "R!31"', "-f *.doc", "'R!31' '*.d' \\*  # *")
        self.assertEqual([unsafe(line) for line in checked], ["!", "*", None])
        with open(README, encoding="utf-8") as f:
            text = f.read()
        self.assertLess(text.index("## Recipes"), text.index("### Options (short)"))
        blocks = re.findall(r"^```(?:sh|bash)\n(.*?)^```", text, re.S | re.M)
        self.assertGreater(len(blocks), 8)
        for line in "".join(blocks).splitlines():
            self.assertIsNone(unsafe(line), line)


if __name__ == "__main__":
    unittest.main()
