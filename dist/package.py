#!/usr/bin/env python3
"""Packs the release archives from the dist builds (make dist).

  package.py OUT WIDTH=BUILD...     e.g. dist win32=build/dist-win32

Writes OUT/vetrolink-VERSION-WIDTH.zip for each build and OUT/SHA256SUMS,
which lists every file inside the archives (as vetrolink-VERSION-WIDTH/NAME,
where unzip puts it in OUT) and the archives themselves. VERSION is the
project's version, which CMake writes to BUILD/VERSION, with "-dirty" when
git status lists anything: the files then come from no commit.

The same commit gives the same archives: entries sorted, dated with the
commit's time, fixed permissions. Text files get CR LF line ends.
"""
import glob
import hashlib
import os
import subprocess
import sys
import time
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS = ["Vetrolink.dll", "Ostrel.exe", "Wendra.exe", "VetrolinkCheck.exe"]
TEXTS = {"Vetrolink.h": "seriallink/Vetrolink.h", "Vetrolink.def": "seriallink/Vetrolink.def",
         "Vetrolink.bas": "dist/Vetrolink.bas", "ReadMe.txt": "dist/ReadMe.txt"}
WIDTHS = {"win32": "32-bit", "win64": "64-bit"}


def git(*args):
    return subprocess.run(["git", "-C", SOURCE, *args], check=True, text=True,
                          stdout=subprocess.PIPE).stdout.strip()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main(out, *builds):
    builds = dict(build.split("=", 1) for build in builds)
    versions = {read(os.path.join(build, "VERSION")).decode().strip() for build in builds.values()}
    if len(versions) != 1:
        sys.exit(f"The builds have different versions: {', '.join(sorted(versions))}")
    version = versions.pop() + ("-dirty" if git("status", "--porcelain") else "")
    commit, seconds = git("log", "-1", "--format=%H %ct").split()
    date = time.gmtime(int(seconds))[:6]
    for old in glob.glob(os.path.join(out, "vetrolink-*.zip")):
        os.remove(old)
    sums = []
    for width, build in sorted(builds.items()):
        folder = f"vetrolink-{version}-{width}"
        contents = {name: read(os.path.join(build, "bin", name)) for name in PROGRAMS}
        for name, path in TEXTS.items():
            text = read(os.path.join(SOURCE, path)).replace(b"\r\n", b"\n")
            for key, value in (("VERSION", version), ("WIDTH", WIDTHS[width]), ("COMMIT", commit)):
                text = text.replace(f"@{key}@".encode(), value.encode())
            contents[name] = text.replace(b"\n", b"\r\n")
        archive = os.path.join(out, folder + ".zip")
        with zipfile.ZipFile(archive, "w") as zip_file:
            for name, data in sorted(contents.items()):
                entry = zipfile.ZipInfo(f"{folder}/{name}", date)
                entry.create_system, entry.external_attr = 3, 0o100644 << 16
                zip_file.writestr(entry, data, zipfile.ZIP_DEFLATED, 9)
                sums.append(f"{hashlib.sha256(data).hexdigest()}  {folder}/{name}\n")
        sums.append(f"{hashlib.sha256(read(archive)).hexdigest()}  {folder}.zip\n")
        print(f"{archive}: {', '.join(sorted(contents))}")
    with open(os.path.join(out, "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(sums)


if __name__ == "__main__":
    main(*sys.argv[1:])
