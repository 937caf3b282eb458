"""The record of a build (BUILDINFO): the commit, its SOURCE_DATE_EPOCH and the exact versions of
the Debian packages and the Python that made the programs, and the comparison of such a record
with this machine. Used by make_release.py (writes it) and compare.py (reads it)."""
import platform
import subprocess
import sys
import time
import zlib

# The packages whose versions decide the programs' and the zip's bytes: the compilers, binutils and
# the mingw-w64 runtime and headers, the build system, Debian's Python and pefile, which patch the
# programs' load configuration and checksum, zlib, whose deflate decides the zip's bytes, and
# xorriso with the libraries that lay out the disc image.
PACKAGES = ["g++-mingw-w64-x86-64-win32", "g++-mingw-w64-i686-win32",
            "gcc-mingw-w64-x86-64-win32", "gcc-mingw-w64-i686-win32",
            "gcc-mingw-w64-x86-64-win32-runtime", "gcc-mingw-w64-i686-win32-runtime",
            "gcc-mingw-w64-base", "binutils-mingw-w64-x86-64", "binutils-mingw-w64-i686",
            "mingw-w64-x86-64-dev", "mingw-w64-i686-dev", "mingw-w64-common",
            "cmake", "cmake-data", "make", "python3", "python3-pefile", "zlib1g",
            "xorriso", "libisofs6", "libisoburn1", "libburn4"]
# The packages that made the signatures (they change the signed bytes, never the unsigned ones).
SIGNING_PACKAGES = ["osslsigncode", "openssl"]
PYTHON = "python3 running the build scripts"


def installed_versions(names):
    """{package: version or "not installed"}; of a package installed for several architectures
    (zlib1g for amd64 and i386), the one of this machine's own architecture."""
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                          text=True).stdout.strip()
    found = {}
    for name in names:
        listed = subprocess.run(["dpkg-query", "-W", "-f",
                                 "${Architecture} ${db:Status-Abbrev}${Version}\\n", name],
                                capture_output=True, text=True).stdout.splitlines()
        versions = [line.split(" ", 2)[2] for line in listed
                    if line.split(" ")[0] in (arch, "all") and line.split(" ")[1] == "ii"]
        found[name] = versions[0] if versions else "not installed"
    return found


def python_version():
    """The interpreter that runs this script, which the build's own Python steps also use."""
    return "%s (zlib %s)" % (platform.python_version(), zlib.ZLIB_RUNTIME_VERSION)


def system():
    try:
        with open("/etc/debian_version") as f:
            debian = "Debian " + f.read().strip()
    except OSError:
        debian = "not Debian"
    return "%s, %s" % (debian, platform.machine())


def record(name, commit, clean, epoch, signing=None):
    """BUILDINFO's text. signing: the lines that describe the signature, or None (unsigned)."""
    lines = ["Build information for %s" % name,
             "Commit: %s" % (commit or "unknown (not a git checkout)"),
             "Uncommitted changes: %s" % ("none" if clean else
                                          "yes (the files are not exactly the commit's)"),
             "SOURCE_DATE_EPOCH: %d (%s)" % (epoch, time.strftime("%Y-%m-%d %H:%M:%S UTC",
                                                                  time.gmtime(epoch))),
             "System: %s" % system(),
             "%s: %s" % (PYTHON, python_version()),
             "Packages:"]
    lines += ["  %s %s" % item for item in installed_versions(PACKAGES).items()]
    if signing:
        lines += signing
        lines.append("Signing packages:")
        lines += ["  %s %s" % item for item in installed_versions(SIGNING_PACKAGES).items()]
    else:
        lines.append("Signature: none")
    return "\n".join(lines) + "\n"


def field(text, key):
    for line in text.splitlines():
        if line.startswith(key + ": "):
            return line[len(key) + 2:]
    return None


def recorded_packages(text):
    """{package: version} from the "Packages:" block of a BUILDINFO."""
    found, inside = {}, False
    for line in text.splitlines():
        if not line.startswith("  "):
            inside = line == "Packages:"
        elif inside:
            name, _, version = line.strip().partition(" ")
            found[name] = version
    return found


def differences(text):
    """One line per recorded version that differs from this machine's; empty when none does."""
    recorded = recorded_packages(text)
    here = installed_versions(sorted(recorded))
    lines = ["%s: recorded %s, here %s" % (name, recorded[name], here[name])
             for name in sorted(recorded) if recorded[name] != here[name]]
    python = field(text, PYTHON)
    if python != python_version():
        lines.append("%s: recorded %s, here %s" % (PYTHON, python, python_version()))
    return lines


if __name__ == "__main__":
    sys.exit("buildinfo.py is a module: make_release.py writes BUILDINFO, compare.py reads it")
