"""What a release takes from the source tree: the version resource's strings, the commit and the
commit's time (SOURCE_DATE_EPOCH); the build's outputs, read whole."""
import fcntl
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def version_string(key):
    """A string of the program's version resource, such as FileVersion."""
    rc = open(os.path.join(ROOT, "resources", "vivediz.rc"), encoding="utf-8").read()
    found = re.search(r'VALUE\s+"%s",\s*"([^"]*)"' % key, rc)
    if not found:
        sys.exit("release: no %s in resources/vivediz.rc" % key)
    return found.group(1)


def commit():
    """(commit or None, whether the files are the commit's), of this folder's own checkout."""
    git = lambda *a: subprocess.run(["git", "-C", ROOT] + list(a), capture_output=True, text=True)
    top = git("rev-parse", "--show-toplevel").stdout.strip()
    if not top or os.path.realpath(top) != os.path.realpath(ROOT):
        return None, False
    changes = git("status", "--porcelain", "--untracked-files=no").stdout.strip()
    return git("rev-parse", "HEAD").stdout.strip(), not changes


def epoch():
    """The time the programs' headers carry (scripts/source_date_epoch.sh decides it)."""
    script = os.path.join(ROOT, "scripts", "source_date_epoch.sh")
    return int(subprocess.run(["sh", script], capture_output=True, text=True, check=True).stdout)


def shown(path):
    """A path as the output names it: within the repository relative to it, else absolute."""
    inside = os.path.commonpath([path, ROOT]) == ROOT
    return os.path.relpath(path, ROOT) if inside else path


def finished_build():
    """Holds scripts/build.sh off until the process ends, after waiting for a build under way, so
    that no program is read half written. Keep the returned file open while reading."""
    path = os.path.join(ROOT, "build", ".build-lock")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    lock = open(path, "a")
    try:
        fcntl.flock(lock, fcntl.LOCK_SH | fcntl.LOCK_NB)
    except BlockingIOError:
        print("release: waiting for the build under way to end", file=sys.stderr)
        fcntl.flock(lock, fcntl.LOCK_SH)
    return lock
