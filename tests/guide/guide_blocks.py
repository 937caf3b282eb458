"""The command blocks of the administrator's guide, each with the marker that says how it is run.

A command block is an indented code block (four spaces more than the text it belongs to). The
nearest non-blank line before it must be `<!-- run: NAME -->`, naming the test case that runs it,
or `<!-- not run: REASON -->` for a command that cannot run here. The release strips the markers.
"""
import re

MARKER = re.compile(r"^\s*<!--\s*(run|not run):\s*(.*?)\s*-->\s*$")
LIST_ITEM = re.compile(r"^(\s*)(?:[-*]|\d+\.)\s")


class Block:
    def __init__(self, line, text, kind, label):
        self.line = line  # 1-based line of the block's first line
        self.text = text  # without the block's indentation, lines ending in "\n"
        self.kind = kind  # "run", "not run", or None when unmarked
        self.label = label  # the case name, or the reason

    def __repr__(self):
        return "Block(line %d, %s: %s)" % (self.line, self.kind, self.label)


def _indent(line):
    return len(line) - len(line.lstrip(" "))


def blocks(text):
    """Every command block of the Markdown text, in order."""
    lines = text.split("\n")
    found = []
    base = 0  # the indentation of the text that a block would belong to
    previous = ""  # the nearest non-blank line before this one
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
            continue
        item = LIST_ITEM.match(line)
        # An indented line after a blank line or a marker; after text it continues a paragraph.
        after = lines[i - 1] if i > 0 else ""
        starts_block = (_indent(line) >= base + 4 and i > 0 and not MARKER.match(line)
                        and (not after.strip() or MARKER.match(after)))
        if starts_block:
            depth = base + 4
            body = []
            first = i
            while i < len(lines) and (not lines[i].strip() or _indent(lines[i]) >= depth):
                body.append(lines[i][depth:])
                i += 1
            while body and not body[-1].strip():
                body.pop()
            marker = MARKER.match(previous)
            kind, label = (marker.group(1), marker.group(2)) if marker else (None, None)
            found.append(Block(first + 1, "".join(b + "\n" for b in body), kind, label))
            previous = lines[first + len(body) - 1]
            continue
        if item:
            base = len(item.group(0))
        elif _indent(line) == 0:
            base = 0
        previous = line
        i += 1
    return found


def problems(found, claimed):
    """What is wrong between the guide's blocks and the names that test cases claim."""
    said = []
    names = [b.label for b in found if b.kind == "run"]
    for b in found:
        if b.kind is None:
            said.append("line %d: a command block without a run or not-run marker" % b.line)
        elif b.kind == "run" and b.label not in claimed:
            said.append("line %d: block %r is claimed by no test case" % (b.line, b.label))
        elif b.kind == "not run" and not b.label:
            said.append("line %d: a not-run marker without a reason" % b.line)
    for name in sorted(set(names)):
        if names.count(name) > 1:
            said.append("block %r is named more than once" % name)
    for name in sorted(set(claimed) - set(names)):
        said.append("test case %r names no block of the guide" % name)
    return said
