"""Checks each deliverable's import table and resources, as a user's PC sees them.

  check_binaries.py TABLE X.Y.Z NAME,NAME,... DLL=WINDOWS FILE=WINDOWS...

Each file may import only functions that TABLE (windows_exports.csv) lists as
exported by WINDOWS, the oldest Windows the file serves, or earlier; a function
the table lacks needs a person to look it up. Each carries its version X.Y.Z
and no other resource. The DLL exports exactly the NAMEs, none with a stdcall
@n decoration. Needs python3-pefile.
"""
import csv
import os
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


def version_failures(pe, path, version):
    """The version resource and nothing else (a manifest would change the Windows version
    the program is told)."""
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    kinds = [entry.id for entry in resources.entries] if resources else []
    failures = [f"{path}: carries {pefile.RESOURCE_TYPE.get(kind, kind)}"
                for kind in kinds if kind != pefile.RESOURCE_TYPE["RT_VERSION"]]
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return failures + [f"{path}: carries no version resource"]
    for field in ("FileVersion", "ProductVersion"):
        high, low = (getattr(pe.VS_FIXEDFILEINFO[0], field + half) for half in ("MS", "LS"))
        numbers = f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
        if numbers != version + ".0":
            failures.append(f"{path}: {field} {numbers}, expected {version}.0")
    strings = {key.decode(): value.decode() for info in pe.FileInfo[0]
               for table in getattr(info, "StringTable", []) for key, value in table.entries.items()}
    expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Vetrolink",
                "OriginalFilename": os.path.basename(path)}
    return failures + [f"{path}: {key} {strings.get(key)!r}, expected {value!r}"
                       for key, value in expected.items() if strings.get(key) != value]


def main(table_path, version, expected_exports, *files):
    with open(table_path, newline="") as table_file:
        table = {(row["dll"].lower(), row["function"]): row["oldest"]
                 for row in csv.DictReader(table_file)}
    failures = []
    for n, target in enumerate(files):
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
        failures += version_failures(pe, path, version)
        print(f"{path} (Windows {floor}): {len(imports)} functions from "
              f"{', '.join(sorted({dll for dll, _ in imports}))}")
        if n == 0:
            exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
            names = sorted(s.name.decode() for s in exports.symbols if s.name) if exports else []
            print(f"{path}: exports {', '.join(names)}")
            if names != sorted(expected_exports.split(",")):
                failures.append(f"{path}: exports {names}, expected {expected_exports}")
    print("".join(f"FAIL {failure}\n" for failure in failures), end="")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
