"""Builds the deliverables again, as make dist does, from a copy of the
sources in another folder, and compares them byte for byte with BIN's.

  same_bytes.py SOURCE PRESET BIN FILE...

A time stamp or a build path that reaches a deliverable makes them differ.
"""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile


def main(source, preset, bin_dir, *files):
    with tempfile.TemporaryDirectory(prefix="vetrolink-again-") as other:
        copy, build = os.path.join(other, "source"), os.path.join(other, "build")
        shutil.copytree(source, copy, ignore=lambda folder, names: [
            name for name in names if folder == source and name in (".git", "build")])
        for step in (["cmake", "--preset", preset, "-B", build, "-DVL_TESTS=OFF"],
                     ["cmake", "--build", build, "--target"] + [f.split(".")[0] for f in files]):
            subprocess.run(step, cwd=copy, check=True)  # its output shows why it failed
        same = [filecmp.cmp(os.path.join(bin_dir, f), os.path.join(build, "bin", f), False)
                for f in files]
    print("\n".join(f"{f}: {'same bytes' if s else 'DIFFERS'}" for f, s in zip(files, same)))
    return 0 if all(same) else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
