#!/usr/bin/env python3
"""Checks a packed release before it is called done (package.py runs it last).

  check_release.py OUT WIDTH...     e.g. dist win32 win64

Holds OUT's archives to what the user is promised, not to package.py's lists:
- each archive holds one folder with exactly the files of the host author's
  guide's table "What is here", each dated with the commit's time (so the
  same commit packs the same bytes whenever it is packed);
- SHA256SUMS has a line for every file inside the archives and for each
  archive, and every line verifies against the archives as they are now;
- each ReadMe.txt holds every heading, paragraph, code block and table row
  of the guide (a row as its cells, each named by its column).
Exits with each problem it finds, or prints that it found none.
"""
import glob
import hashlib
import os
import re
import subprocess
import sys
import time
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GUIDE = os.path.join(SOURCE, "docs", "host-guide.md")


def words(text):
    """The text without Markdown's marks and line breaks, for comparing
    prose however it is wrapped."""
    return " ".join(re.sub(r"\]\([^)]*\)|[][`*]", "", text).split())


def promised_files(guide):
    if "\n## What is here\n" not in guide:
        sys.exit(f"{GUIDE} has no section \"What is here\": no list of what the release holds")
    section = guide.split("\n## What is here\n", 1)[1].split("\n## ", 1)[0]
    return set(re.findall(r"^\| `([^`]+)` \|", section, re.M))


def guide_pieces(guide):
    """What the ReadMe must hold, as (how, text): each heading as a line of
    its own, each code block verbatim, each prose block and table row as
    words; the guide's title aside (the ReadMe's first line names the release
    instead)."""
    for block in re.split(r"\n\s*\n", guide.strip("\n")):
        lines = block.split("\n")
        if block.startswith("# "):
            continue
        if block.startswith("#"):
            yield "line", words(block.lstrip("#"))
        elif block.startswith("|"):
            head, *rows = [[cell.strip() for cell in line.strip("|").split("|")]
                           for line in lines if not line.startswith("|---")]
            for row in rows:
                yield "words", words(" ".join(f"{h}: {c}" for h, c in zip(head, row) if c))
        elif all(line.startswith("    ") for line in lines):
            yield "verbatim", block
        else:
            yield "words", words(block)


def readme_problems(readme, guide):
    text = readme.decode("ascii", "replace").replace("\r\n", "\n")
    held = {"line": {words(line) for line in text.split("\n")}, "verbatim": text,
            "words": words(text)}
    return [f"ReadMe.txt lacks {piece.strip()[:60]!r}" for how, piece in guide_pieces(guide)
            if piece not in held[how]]


def archive_problems(archive, guide, date):
    """The archive's problems, and its files by their names in SHA256SUMS."""
    name = os.path.basename(archive)
    folder, found, dated = name[:-len(".zip")], [], set()
    files = {name: open(archive, "rb").read()}
    try:
        with zipfile.ZipFile(archive) as zip_file:
            files.update((entry.filename, zip_file.read(entry)) for entry in zip_file.infolist())
            dated = {entry.date_time for entry in zip_file.infolist()} - {date}
    except zipfile.BadZipFile as error:
        found.append(str(error))
    if dated:
        found.append(f"entries dated {sorted(dated)}, not with the commit's time {date}")
    names = {member[len(folder) + 1:] for member in files if member.startswith(folder + "/")}
    if len(names) != len(files) - 1:
        found.append(f"entries outside the folder {folder}/")
    promised = promised_files(guide)
    if names != promised:
        found.append(f"missing {sorted(promised - names)}, not promised {sorted(names - promised)}")
    if "ReadMe.txt" in names:
        found += readme_problems(files[f"{folder}/ReadMe.txt"], guide)
    return [f"{name}: {problem}" for problem in found], files


def problems(out, widths):
    guide = open(GUIDE, encoding="utf-8").read()
    seconds = int(subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"], check=True,
                                 text=True, stdout=subprocess.PIPE).stdout)
    date = time.gmtime(seconds - seconds % 2)[:6]  # the commit's time as a zip entry holds it
    found, files = [], {}
    for width in widths:
        archives = glob.glob(os.path.join(out, f"vetrolink-*-{width}.zip"))
        if len(archives) != 1:
            found.append(f"{len(archives)} archives for {width} in {out}")
            continue
        archive_found, archive_files = archive_problems(archives[0], guide, date)
        found += archive_found
        files.update(archive_files)
    sums = dict(reversed(line.rstrip("\n").split("  ", 1))
                for line in open(os.path.join(out, "SHA256SUMS"), encoding="ascii"))
    found += [f"SHA256SUMS: no line for {name}" for name in sorted(set(files) - set(sums))]
    found += [f"SHA256SUMS: {name} {'does not match' if name in files else 'is not there'}"
              for name, digest in sorted(sums.items())
              if name not in files or hashlib.sha256(files[name]).hexdigest() != digest]
    return found


def check(out, widths):
    found = problems(out, widths)
    if found:
        sys.exit(f"{out} is not the release it should be:\n  " + "\n  ".join(found))
    print(f"{out}: checked against the host author's guide and SHA256SUMS")


if __name__ == "__main__":
    check(sys.argv[1], sys.argv[2:])
