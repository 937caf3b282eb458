"""The release's disc image: ISO 9660 with Joliet names, which Windows reads from Windows 2000 on,
and Rock Ridge; its root holds the release folder's files, and every byte follows from those
files and the commit's time, so that two builds of one commit give the same image."""
import os
import re
import shutil
import subprocess
import tempfile

# The Joliet volume descriptor holds 16 characters, and Windows shows that one as the disc's label;
# xorriso cuts a longer name there without a word.
JOLIET_VOLUME_ID_UNITS = 16


class ImageError(Exception):
    """A one-line reason why the image was not made."""


def volume_id(program, version):
    """"VIVEDIZ_1_0_1_6": ISO 9660 d-characters (A to Z, 0 to 9, _) and short enough for Joliet."""
    volume = re.sub(r"[^A-Z0-9_]", "_", ("%s_%s" % (program, version)).upper())
    if len(volume) > JOLIET_VOLUME_ID_UNITS:
        raise ImageError("the volume identifier %s is longer than the %d characters that Joliet "
                         "keeps" % (volume, JOLIET_VOLUME_ID_UNITS))
    return volume


def xorriso_command(image, folder, volume, epoch):
    # Every field the image would otherwise take from the machine is given: the owner, the modes
    # (not the umask's), the files' and folders' dates, and the empty texts that a .mkisofsrc
    # would fill in. SOURCE_DATE_EPOCH sets the volume's dates and its uuid.
    return ["xorriso", "-no_rc", "-as", "mkisofs", "-quiet", "-o", image, "-V", volume,
            "-J", "-r", "-uid", "0", "-gid", "0", "-file-mode", "0444", "-dir-mode", "0555",
            "--set_all_file_dates", "=%d" % epoch, "-sysid", "", "-A", "", "-publisher", "",
            "-volset", "", "-p", "", folder]


def write_image(image, folder, volume, epoch):
    """Writes the folder's files into the image, through image.tmp, so that an image at that path
    is always whole; raises ImageError, leaving neither, when xorriso fails."""
    if not shutil.which("xorriso"):
        raise ImageError("xorriso is missing; scripts/bootstrap.sh installs it")
    partial = image + ".tmp"
    with tempfile.TemporaryDirectory(prefix="vivediz-image.") as home:
        # No startup file of the caller's (./.mkisofsrc, ~/.xorrisorc) reaches the image.
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home,
                       "LC_ALL": "C", "TZ": "UTC", "SOURCE_DATE_EPOCH": str(epoch)}
        result = subprocess.run(xorriso_command(partial, os.path.abspath(folder), volume, epoch),
                                cwd=home, env=environment, capture_output=True, text=True)
    if result.returncode != 0:
        if os.path.exists(partial):
            os.remove(partial)
        said = [line.strip() for line in result.stderr.splitlines() if "FAILURE" in line or
                "SORRY" in line] or [line.strip() for line in result.stderr.splitlines()]
        raise ImageError(said[0] if said else "xorriso failed")  # its lines name xorriso
    os.replace(partial, image)
