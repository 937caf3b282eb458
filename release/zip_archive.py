"""The release's zip: one folder with the release's files, every byte decided by the files and
the commit's time, so that two builds of one commit give the same zip."""
import os
import time
import zipfile


def zip_time(epoch):
    return max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))  # a zip's clock starts in 1980


def write_zip(path, top, files, epoch):
    """Writes {relative path: bytes} under the folder top into the zip at path, through path.tmp,
    so that a zip at path is always whole. The entries stand in name order with the commit's time
    and no attributes of the machine that packed them."""
    stamp = zip_time(epoch)
    with zipfile.ZipFile(path + ".tmp", "w") as packed:
        for name in sorted(files):
            entry = zipfile.ZipInfo(top + "/" + name, date_time=stamp)
            entry.create_system = 0
            entry.external_attr = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            packed.writestr(entry, files[name], compresslevel=9)
    os.replace(path + ".tmp", path)
