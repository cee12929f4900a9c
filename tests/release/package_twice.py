"""Packs the release twice from the same builds into scratch folders:
package.py checks each packing itself, and the two must be the same bytes.

  package_twice.py WIDTH=BUILD...
"""
import filecmp
import os
import subprocess
import sys
import tempfile

PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../release/package.py")

with tempfile.TemporaryDirectory(prefix="vetrolink-dist-") as scratch:
    outs = [os.path.join(scratch, name) for name in ("first", "second")]
    for out in outs:
        # -B: no bytecode written into the sources while same_bytes copies them
        subprocess.run([sys.executable, "-B", PACKAGE, out, *sys.argv[1:]], check=True)
    same, differ, missing = filecmp.cmpfiles(*outs, sorted(os.listdir(outs[0])), shallow=False)
print(f"packed twice: {len(same)} files the same, differing: {', '.join(differ + missing) or 'none'}")
sys.exit(1 if differ or missing else 0)
