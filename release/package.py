#!/usr/bin/env python3
"""Packs the release archives from the dist builds (make dist).

  package.py OUT WIDTH=BUILD...     e.g. dist win32=build/dist-win32
  package.py --readme               prints the archives' ReadMe.txt

Writes OUT/vetrolink-VERSION-WIDTH.zip for each build and OUT/SHA256SUMS,
which lists every file inside the archives (as vetrolink-VERSION-WIDTH/NAME,
where unzip puts it in OUT) and the archives themselves. VERSION is the
project's version, which CMake writes to BUILD/VERSION, with "-dirty" when
git status lists anything: the files then come from no commit.

The same commit gives the same archives: entries sorted, dated with the
commit's time, fixed permissions. Text files get CR LF line ends.

ReadMe.txt is docs/host-guide.md as plain text, so the two cannot disagree.

Then check_release.py holds what it packed to what the release promises, and
a fault found ends it with a non-zero exit and the reason.
"""
import glob
import hashlib
import os
import re
import subprocess
import sys
import textwrap
import time
import zipfile

import check_release

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS = ["Vetrolink.dll", "Ostrel.exe", "Wendra.exe", "VetrolinkCheck.exe"]
TEXTS = {"Vetrolink.h": "seriallink/Vetrolink.h", "Vetrolink.bas": "release/Vetrolink.bas",
         "VetrolinkHost.bas": "release/VetrolinkHost.bas"}
# Each width's own exports, as an import library needs them (host-guide.md).
DEFS = {"win32": "seriallink/Vetrolink.def", "win64": "seriallink/Vetrolink64.def"}
README = "docs/host-guide.md"
WIDTHS = {"win32": "32-bit", "win64": "64-bit"}
WIDTH = 76


def plain(text):
    """The text of a line of Markdown without its marks: code, bold, links."""
    text = re.sub(r"\[([^]]*)\]\([^)]*\)", r"\1", text)
    return text.replace("**", "").replace("`", "")


def wrap(text, first="", rest=""):
    return textwrap.fill(plain(" ".join(text.split())), WIDTH, initial_indent=first,
                         subsequent_indent=rest, break_long_words=False, break_on_hyphens=False)


def readme_text(markdown):
    """The host author's guide as plain text. It knows the Markdown the guide
    uses: headings, paragraphs, lists, indented code and tables, one block
    each between blank lines; a table's rows become a line and its cells
    indented lines below, named by the table's head."""
    blocks, out = re.split(r"\n\s*\n", markdown.strip("\n")), []
    for block in blocks:
        lines = block.split("\n")
        if block.startswith("# "):
            out.append("Vetrolink @VERSION@ for @WIDTH@ programs (commit @COMMIT@)")
        elif block.startswith("#"):
            title = plain(block.lstrip("#").strip())
            out.append(title + "\n" + ("=" if block.startswith("## ") else "-") * len(title))
        elif block.startswith("|"):
            head, *rows = [[plain(c.strip()) for c in line.strip("|").split("|")]
                           for line in lines if not line.startswith("|---")]
            out.append("\n".join(
                "\n".join([wrap(f"{head[0]}: {row[0]}", "", "  ")] + [wrap(f"{name}: {cell}", "    ", "      ")
                                                      for name, cell in zip(head[1:], row[1:])
                                                      if cell])
                for row in rows))
        elif block.startswith("    "):
            out.append(block)
        else:
            parts = []
            for part in re.split(r"\n(?=- |\d+\. )", block):
                item = re.match(r"- |\d+\. ", part)
                indent = " " * (len(item.group()) if item else len(part) - len(part.lstrip(" ")))
                parts.append(wrap(part, "" if item else indent, indent))
            out.append("\n".join(parts))
    return "\n\n".join(out) + "\n"


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
    os.makedirs(out, exist_ok=True)
    for old in glob.glob(os.path.join(out, "vetrolink-*.zip")):
        os.remove(old)
    sums = []
    for width, build in sorted(builds.items()):
        folder = f"vetrolink-{version}-{width}"
        contents = {name: read(os.path.join(build, "bin", name)) for name in PROGRAMS}
        texts = {name: read(os.path.join(SOURCE, path))
                 for name, path in {**TEXTS, "Vetrolink.def": DEFS[width]}.items()}
        texts["ReadMe.txt"] = readme_text(read(os.path.join(SOURCE, README)).decode()).encode("ascii")
        for name, text in texts.items():
            text = text.replace(b"\r\n", b"\n")
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
    if sys.argv[1:] == ["--readme"]:
        sys.stdout.write(readme_text(read(os.path.join(SOURCE, README)).decode()))
    else:
        main(*sys.argv[1:])
        check_release.check(sys.argv[1], [build.split("=", 1)[0] for build in sys.argv[2:]])
