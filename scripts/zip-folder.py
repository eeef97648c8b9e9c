#!/usr/bin/env python3
"""Writes a folder's files into a zip archive that depends on nothing but their names and bytes:
names in sorted order, every entry dated SOURCE_DATE_EPOCH (UTC, no earlier than 1980, as zip
dates cannot be), fixed permissions (0755 for files that are executable, else 0644), no extra
fields, the same compression level. Two runs over the same files give the same archive.

    zip-folder.py FOLDER OUT.zip
"""

import os
import stat
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: zip-folder.py FOLDER OUT.zip")
    folder, out = sys.argv[1], sys.argv[2]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # 1980-01-01 is the earliest zip date
    names = []
    for root, dirs, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            if os.path.islink(path):
                sys.exit("zip-folder.py: a symbolic link has no place in a store archive: " + path)
            names.append(os.path.relpath(path, folder).replace(os.sep, "/"))
    names.sort(key=lambda n: n.encode("utf-8"))
    tmp = out + ".part"
    with zipfile.ZipFile(tmp, "w") as z:
        for name in names:
            path = os.path.join(folder, name)
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix: the permission bits below are read from external_attr
            mode = 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644
            info.external_attr = (stat.S_IFREG | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
