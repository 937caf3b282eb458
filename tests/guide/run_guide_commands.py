#!/usr/bin/env python3
"""Runs the command blocks of docs/administrators.md under Wine's cmd and reg, each as its test
case in cases.py prepares it, and checks what they changed in the registry (and printed).

A block without a marker, a run block that no case claims, and a case that names a missing block
fail, as does any change a case does not expect. Prints "PASS name" / "FAIL name" per case and
"N passed, N failed". Needs WINEPREFIX set, a running wineserver and dist/x64/vivediz-undo.exe.
The extraction's own tests (test_guide_blocks.py) run first and count as one check.
Usage: run_guide_commands.py [--only TEXT] [GUIDE]   (--only: the cases whose name holds TEXT)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import cases
import guide_blocks
import reg_state

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE = "wine"


def reg_text(changes, deleted_trees=()):
    """A REGEDIT4 file: trees deleted, then keys made and values set (data) or deleted (None)."""
    lines = ["REGEDIT4", ""]
    lines += ["[-%s]" % tree for tree in deleted_trees]
    for key, values in changes.items():
        if values is None:
            lines += ["", "[-%s]" % key]
            continue
        lines += ["", "[%s]" % key]
        lines += ['"%s"=%s' % (n, "-" if d is None else d) for n, d in values.items()]
    return "\r\n".join(lines) + "\r\n"


def wine(args, folder):
    """Status and output of a Wine program. The output goes through a file, not a pipe: a
    wineserver that the call starts would hold a pipe open after the program ends."""
    with tempfile.TemporaryFile() as said:
        status = subprocess.run([WINE] + args, cwd=folder, stdin=subprocess.DEVNULL, stdout=said,
                                stderr=subprocess.STDOUT, timeout=120).returncode
        said.seek(0)
        return status, said.read().decode("latin-1").replace("\r", "")


def import_reg(text, folder):
    path = os.path.join(folder, "prepare.reg")
    with open(path, "w", newline="") as f:
        f.write(text)
    status, said = wine(["reg", "import", "prepare.reg"], folder)
    os.remove(path)
    if status != 0:
        raise RuntimeError("reg import of the preparation failed: " + said.strip())


def release_block(text, folder):
    """The block's output (and its failure) in bash, in a release folder made from dist/: a copy
    of the one the test command made for its stages (VIVEDIZ_SUITE_RELEASE), or one made here."""
    out = os.path.join(folder, "release")
    shared = os.environ.get("VIVEDIZ_SUITE_RELEASE")
    if shared:
        found = [d for d in os.listdir(shared) if os.path.isdir(os.path.join(shared, d))] \
            if os.path.isdir(shared) else []
        if not found:
            return "the release made for the test's stages is missing from %s\n" % shared
        shutil.copytree(os.path.join(shared, found[0]), os.path.join(out, found[0]))
    else:
        made = subprocess.run([sys.executable, os.path.join(ROOT, "release", "make_release.py"),
                               "--out", out], capture_output=True, text=True,
                              env={k: v for k, v in os.environ.items()
                                   if not k.startswith("SIGN_")})
        if made.returncode != 0:
            return "the release could not be made: " + made.stderr
    top = [d for d in os.listdir(out) if os.path.isdir(os.path.join(out, d))][0]
    done = subprocess.run(["bash", "-e", "-c", text], cwd=os.path.join(out, top),
                          capture_output=True, text=True)
    return done.stdout + done.stderr + ("" if done.returncode == 0 else
                                        "exit status %d\n" % done.returncode)


def dialog_after_block(name, text, folder):
    """What the x64 acceptance kit prints when it runs the scenario that follows the block: the
    kit prepares the registry, runs the block, starts the test variant and checks its dialog."""
    kit = subprocess.run([sys.executable, os.path.join(ROOT, "release", "acceptance_kit.py"),
                          "--unpacked", os.path.join(folder, "kit")], capture_output=True, text=True)
    if kit.returncode != 0:
        return "the kit could not be packed: " + kit.stderr
    block = os.path.join(folder, "block.cmd")
    with open(block, "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))
    errors = os.path.join(folder, "stderr.log")
    accept = os.path.join(kit.stdout.strip(), "x64", "accept.exe")
    scale = int(os.environ.get("VIVEDIZ_KIT_TIME_SCALE", "1"))  # run.sh: the machine's load
    with open(errors, "w") as unix_stderr:
        status, said = None, ""
        with tempfile.TemporaryFile() as out:
            status = subprocess.run(
                [WINE, accept, "--disposable", "--time-scale", str(scale),
                 "--stderr", "Z:" + errors.replace("/", "\\"),
                 "--guide-block", name, "Z:" + block.replace("/", "\\")],
                cwd=folder, stdin=subprocess.DEVNULL, stdout=out, stderr=unix_stderr,
                timeout=300 * scale).returncode
            out.seek(0)
            said = out.read().decode("latin-1").replace("\r", "")
    return said + ("" if status == 0 else "exit status %d\n" % status)


def baseline(folder):
    values = {key: {name: None for name in names} for key, names in cases.OWNED_VALUES.items()}
    import_reg(reg_text(values, cases.OWNED_TREES), folder)


def state():
    found = {}
    for key in cases.WATCHED:
        found.update(reg_state.export(WINE, key))
    return found


def cmd_block(step, text, folder):
    """The output of ("block", NAME[, FILE[, SHIPPED]]) under Wine's cmd, and its last command's
    status when not 0: the block in FILE, the release's file SHIPPED beside it, as the guide tells
    the reader to copy it."""
    if len(step) > 3:
        shutil.copy(os.path.join(ROOT, step[3]), os.path.join(folder, os.path.basename(step[3])))
    script = step[2] if len(step) > 2 else "block.cmd"
    with open(os.path.join(folder, script), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))
    status, said = wine(["cmd", "/c", script], folder)
    return said + ("" if status == 0 else "exit status %d\n" % status)


def run_case(case, texts, folder):
    """The case's failures, as lines."""
    baseline(folder)
    import_reg(reg_text(case.prepare), folder)
    before = state()
    failures = []
    # The blocks run in the case's own folder below the temporary one.
    where = os.path.join(folder, case.folder)
    os.makedirs(where, exist_ok=True)
    for index, step in enumerate(case.steps):
        said = None
        if step[0] == "registry":
            import_reg(reg_text(step[1]), folder)
        elif step[0] == "release":
            said = release_block(texts[step[1]], folder)
        elif step[0] == "dialog":
            said = dialog_after_block(step[1], texts[step[1]], folder)
            if not re.search(r"^1 passed, 0 failed", said, re.MULTILINE):
                failures.append("the dialog after block %s: expected its scenario to pass; the "
                                "acceptance kit printed:\n%s" % (step[1], said))
        else:
            said = cmd_block(step, texts[step[1]], where)
        for pattern in case.output.get(index, []):
            if not re.search(pattern, said or "", re.MULTILINE):
                failures.append("block %s: output lacks %r; it printed:\n%s"
                                % (step[1], pattern, said))
    got = reg_state.differences(before, state())
    for line in sorted(set(got) - set(case.changes)):
        failures.append("unexpected: " + line)
    for line in sorted(set(case.changes) - set(got)):
        failures.append("missing: " + line)
    return failures


def extraction_tests_pass():
    suite = unittest.defaultTestLoader.loadTestsFromName("test_guide_blocks")
    result = unittest.TextTestRunner(stream=sys.stdout, verbosity=0).run(suite)
    print("%s the extraction of the guide's command blocks" % ("PASS" if result.wasSuccessful()
                                                               else "FAIL"))
    return result.wasSuccessful()


def main():
    arguments = sys.argv[1:]
    only = ""
    if arguments[:1] == ["--only"] and len(arguments) > 1:
        only, arguments = arguments[1], arguments[2:]
    guide = arguments[0] if arguments else os.path.join(ROOT, "docs", "administrators.md")
    found = guide_blocks.blocks(open(guide, encoding="utf-8").read())
    claimed = {name for case in cases.CASES for name in case.blocks()}
    passed = failed = 0
    if extraction_tests_pass():
        passed += 1
    else:
        failed += 1
    for problem in guide_blocks.problems(found, claimed):
        print("FAIL %s: %s" % (os.path.basename(guide), problem))
        failed += 1
    texts = {b.label: b.text for b in found if b.kind == "run"}
    saved = state()
    for case in cases.CASES:
        if only not in case.name or any(name not in texts for name in case.blocks()):
            continue  # reported above
        with tempfile.TemporaryDirectory() as folder:
            failures = run_case(case, texts, folder)
        print("%s %s" % ("FAIL" if failures else "PASS", case.name))
        for line in failures:
            print("    " + line.replace("\n", "\n    "))
        failed += bool(failures)
        passed += not failures
    with tempfile.TemporaryDirectory() as folder:
        baseline(folder)
        put_back = {v[0]: {n: d for n, d in v[1].values()} for v in saved.values()}
        import_reg(reg_text({k: put_back[k] for k in put_back if _owned(k)}), folder)
        # The baseline makes the keys of the TCP values; a service key the prefix lacked goes again.
        gone = [cases.SERVICES + "\\" + k[len(cases.SERVICES) + 1:].split("\\")[0]
                for k in cases.OWNED_VALUES if k.lower() not in saved]
        gone = [k for k in gone if k.lower() not in saved]
        if gone:
            import_reg(reg_text({}, gone), folder)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


def _owned(key):
    """Whether the baseline removed or changed the key, so that the end must put it back."""
    lower = key.lower()
    return any(lower == t.lower() or lower.startswith(t.lower() + "\\") for t in cases.OWNED_TREES) \
        or lower in (k.lower() for k in cases.OWNED_VALUES)


if __name__ == "__main__":
    sys.exit(main())
