#!/usr/bin/env python3
"""Checks what a user's PC needs of each deliverable, from its PE headers.

  check_binaries.py OBJDUMP FILE... [--exports NAME,NAME,...]

Each FILE may import system DLLs only (a MinGW runtime DLL such as
libstdc++-6.dll is not on a user's PC) and carries no resources, so no
application manifest. With --exports, the first FILE (the DLL) must export
exactly those names: no more, no fewer, none with a stdcall @n decoration.
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "msvcrt.dll",
}


def objdump(tool, path):
    return subprocess.run([tool, "-p", "-h", path], check=True, capture_output=True,
                          text=True).stdout


def exported_names(dump):
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)(?:\n\n|\Z)", dump, re.S)
    return sorted(re.findall(r"\]\s+(\S+)", table.group(1))) if table else []


def main(argv):
    tool, rest = argv[1], argv[2:]
    expected = None
    if "--exports" in rest:
        i = rest.index("--exports")
        expected = sorted(rest[i + 1].split(","))
        rest = rest[:i] + rest[i + 2:]
    failures = []
    for n, path in enumerate(rest):
        dump = objdump(tool, path)
        imports = [d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)]
        for dll in imports:
            if dll not in SYSTEM_DLLS:
                failures.append(f"{path}: imports {dll}, which is not a system DLL")
        if re.search(r"^\s*\d+\s+\.rsrc\s", dump, re.M):
            failures.append(f"{path}: carries resources (a manifest would change the "
                            "Windows version it is told)")
        print(f"{path}: imports {', '.join(sorted(imports))}")
        if expected is not None and n == 0:
            names = exported_names(dump)
            print(f"{path}: exports {', '.join(names)}")
            if names != expected:
                failures.append(f"{path}: exports {names}, expected {expected}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
