"""ADMINISTRATORS.txt: the administrator's guide (docs/administrators.md) as the plain text that
the release carries, without what only the source tree needs."""
import os
import re
import sys

from source_tree import ROOT


def plain_text(markdown):
    """The guide without its HTML comments (notes for the tests that read the .md) and its
    pictures (the text cannot show them, and their paths are the source tree's), with links
    spelled out and CR LF line ends."""
    text = re.sub(r"^[ \t]*<!--.*?-->[ \t]*\n", "", markdown, flags=re.M | re.S)
    text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
    if "<!--" in text:
        sys.exit("release: docs/administrators.md has a comment that does not end")
    text = re.sub(r"^[ \t]*!\[[^\]]*\]\([^)]*\)[ \t]*\n", "", text, flags=re.M)
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)
    text = re.sub(r"\[([^\]]*)\]\(([^)]*)\)", r"\1 (\2)", text)
    text = re.sub(r"\n{3,}", "\n\n", text)  # where a picture stood alone between blank lines
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def guide_text():
    with open(os.path.join(ROOT, "docs", "administrators.md"), encoding="utf-8") as f:
        text = plain_text(f.read())
    try:
        return text.encode("ascii")  # any Notepad, down to Windows 2000's, shows it as written
    except UnicodeEncodeError as error:
        sys.exit("release: docs/administrators.md must be ASCII: %s" % error)
