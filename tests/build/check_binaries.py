#!/usr/bin/python3
"""Checks what a user's PC needs of each deliverable, from its PE headers.

  check_binaries.py TABLE FILE=WINDOWS... [--exports NAME,NAME,...]

TABLE (windows_exports.csv) names, for every system function a deliverable
may import, the oldest Windows that exports it. Each FILE may import only
functions of the table whose Windows is not newer than WINDOWS, the oldest
one the file serves; a function the table lacks needs a person to look it up.
No FILE carries resources, so none has an application manifest. With
--exports, the first FILE (the DLL) must export exactly those names: no more,
no fewer, none with a stdcall @n decoration.

Run it with Debian's python3, which has python3-pefile.
"""
import csv
import sys

import pefile

# Oldest first. A version stands for itself and every later one in the list;
# a function that NT 4.0 has but the 98 family lacks is listed as 2000.
WINDOWS = ["95", "98", "98SE", "2000", "XP", "XPx64", "Vista", "7", "8", "10"]


def imported(pe):
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(
            pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        for function in entry.imports:
            name = function.name.decode() if function.name else f"#{function.ordinal}"
            yield entry.dll.decode().lower(), name


def main(argv):
    args, expected = argv[1:], None
    if "--exports" in args:
        i = args.index("--exports")
        expected = sorted(args[i + 1].split(","))
        args = args[:i] + args[i + 2:]
    with open(args[0], newline="") as table_file:
        table = {(row["dll"].lower(), row["function"]): row["oldest"]
                 for row in csv.DictReader(table_file)}
    failures = []
    for n, target in enumerate(args[1:]):
        path, floor = target.rsplit("=", 1)
        pe = pefile.PE(path)
        imports = list(imported(pe))
        for dll, name in imports:
            oldest = table.get((dll, name))
            if oldest is None:
                failures.append(f"{path}: imports {dll}!{name}, which the table does not list")
            elif WINDOWS.index(oldest) > WINDOWS.index(floor):
                failures.append(f"{path}: imports {dll}!{name}, exported from Windows {oldest} "
                                f"on; the file serves Windows {floor}")
        if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
            failures.append(f"{path}: carries resources (a manifest would change the "
                            "Windows version it is told)")
        dlls = sorted({dll for dll, _ in imports})
        print(f"{path} (Windows {floor}): {len(imports)} functions from {', '.join(dlls)}")
        if expected is not None and n == 0:
            exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
            names = sorted(s.name.decode() for s in exports.symbols if s.name) if exports else []
            print(f"{path}: exports {', '.join(names)}")
            if names != expected:
                failures.append(f"{path}: exports {names}, expected {expected}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
