"""Writes a zip whose bytes follow from its content alone: entries in sorted order, each with the
given time and no attributes, deflated at level 9, written under a temporary name and renamed."""
import os
import zipfile


def write_zip(archive, top, files, stamp):
    """Packs {path: bytes} under the folder `top` into `archive`."""
    with zipfile.ZipFile(archive + ".tmp", "w") as packed:
        for path in sorted(files):
            entry = zipfile.ZipInfo(top + "/" + path, date_time=stamp)
            entry.create_system = 0
            entry.external_attr = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            packed.writestr(entry, files[path], compresslevel=9)
    os.replace(archive + ".tmp", archive)
