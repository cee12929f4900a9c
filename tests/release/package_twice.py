"""Packs the release twice from the same builds into scratch folders, as
make dist does: package.py checks each packing itself, and the two must
have the same bytes.

  package_twice.py WIDTH=BUILD...
"""
import filecmp
import os
import subprocess
import sys
import tempfile

PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../release/package.py")


def main(*builds):
    with tempfile.TemporaryDirectory(prefix="vetrolink-dist-") as scratch:
        outs = [os.path.join(scratch, name) for name in ("first", "second")]
        for out in outs:
            subprocess.run([sys.executable, PACKAGE, out, *builds], check=True)
        names = sorted(os.listdir(outs[0]))
        differ = [name for name in names if not filecmp.cmp(*(os.path.join(out, name) for out in outs), False)]
    print(f"packed twice: {', '.join(names)}: {'differ: ' + ', '.join(differ) if differ else 'the same bytes'}")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
