"""ADMINISTRATORS.txt: the administrator's guide (docs/administrators.md) as the plain text that
the release carries."""
import os
import re
import sys

from source_tree import ROOT


def guide_text():
    """docs/administrators.md as plain text: links and pictures spelled out, CR LF line ends."""
    text = open(os.path.join(ROOT, "docs", "administrators.md"), encoding="utf-8").read()
    text = re.sub(r"!\[([^\]]*)\]\(([^)]*)\)", r"[Picture: \1, docs/\2 in the source]", text)
    text = re.sub(r"\[([^\]]*)\]\(([^)]*)\)", r"\1 (\2)", text)
    try:
        data = text.encode("ascii")  # any Notepad, down to Windows 2000's, shows it as written
    except UnicodeEncodeError as error:
        sys.exit("release: docs/administrators.md must be ASCII: %s" % error)
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
