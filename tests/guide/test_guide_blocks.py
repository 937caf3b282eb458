"""The extraction of the guide's command blocks and the checks between blocks and test cases."""
import unittest

import guide_blocks

GUIDE = """# Guide

Text.

<!-- run: first -->

    reg query "HKLM\\SYSTEM"

- A list item, for example

  <!-- not run: a host's command -->

      virsh change-media guest sda disc.iso

  with text after it.
- Another item:

      reg add "HKLM\\SYSTEM\\X" /f
"""

# (what the guide holds, the names that cases claim, the problems expected)
ROWS = [
    ("marked and claimed", GUIDE.replace("- Another item:\n\n      reg add \"HKLM\\SYSTEM\\X\" /f\n", ""),
     {"first"}, []),
    ("a block without a marker", GUIDE, {"first"},
     ["line 18: a command block without a run or not-run marker"]),
    ("a run block that no case claims", GUIDE.replace("- Another item", "- Other"), set(),
     ["line 7: block 'first' is claimed by no test case",
      "line 18: a command block without a run or not-run marker"]),
    ("a case that names a block the guide lacks", "# Guide\n", {"gone"},
     ["test case 'gone' names no block of the guide"]),
    ("two blocks of one name", "<!-- run: a -->\n\n    x\n\n<!-- run: a -->\n\n    y\n", {"a"},
     ["block 'a' is named more than once"]),
    ("a not-run marker without a reason", "<!-- not run: -->\n\n    x\n", set(),
     ["line 3: a not-run marker without a reason"]),
]


class BlocksTest(unittest.TestCase):
    def test_problems(self):
        for name, text, claimed, expected in ROWS:
            with self.subTest(name):
                found = guide_blocks.blocks(text)
                self.assertEqual(guide_blocks.problems(found, claimed), expected)

    def test_blocks_keep_their_text_without_the_indentation(self):
        found = guide_blocks.blocks(GUIDE)
        self.assertEqual([(b.kind, b.label, b.text) for b in found], [
            ("run", "first", 'reg query "HKLM\\SYSTEM"\n'),
            ("not run", "a host's command", "virsh change-media guest sda disc.iso\n"),
            (None, None, 'reg add "HKLM\\SYSTEM\\X" /f\n')])


if __name__ == "__main__":
    unittest.main()
