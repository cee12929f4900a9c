"""Throw-away Wine prefixes from Python (the benchmarks and the demo)."""
import contextlib
import os
import subprocess

PREFIX_TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "prefix")


@contextlib.contextmanager
def throwaway_prefix(path):
    """A headless prefix at PATH, made by tools/wine/prefix and removed afterwards."""
    subprocess.run([PREFIX_TOOL, "create", path], check=True, stdout=subprocess.DEVNULL)
    try:
        yield path
    finally:
        subprocess.run([PREFIX_TOOL, "remove", path], stdout=subprocess.DEVNULL)
