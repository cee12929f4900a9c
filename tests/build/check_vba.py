"""Checks the VBA module's Declare lines against the header.

  check_vba.py BAS HEADER [DEF]

Both branches (#If VBA7 with PtrSafe, and #Else) declare the header's nine
functions (check_binaries.py sees the DLL export them), each argument in the
VBA form of its C type (a handle is a LongPtr from VBA7 on, a Long before).
With DEF (32-bit), each Name@N has four bytes per argument, as VBA pushes them.
"""
import re
import sys

VBA = {"int": "ByVal Long", "DWORD": "ByVal Long", "HANDLE": "ByVal LongPtr",
       "int *": "ByRef Long", "DWORD *": "ByRef Long", "HANDLE *": "ByRef LongPtr",
       "char *": "ByVal String", "const char *": "ByVal String",
       "unsigned char *": "ByRef Byte", "const unsigned char *": "ByRef Byte"}


def vba_form(arg):  # "const char *name" -> "ByVal String"
    c_type = re.sub(r"\s*\*", " *", re.sub(r"\w+$", "", arg.strip())).strip()
    return VBA.get(c_type, f"(no VBA form for {c_type})")


def header_functions(text):
    return {name: [vba_form(arg) for arg in args.split(",") if arg.strip() != "void"]
            for name, args in re.findall(r"int VETROLINK_CALL (\w+)\(([^)]*)\);", text)}


def declared(text, ptr_safe):
    text = text.replace("\r", "").replace(" _\n", " ")
    return {name: re.findall(r"(ByVal|ByRef) \w+ As (\w+)", args) for name, args in re.findall(
        rf'Declare {ptr_safe}Function (\w+) Lib "Vetrolink\.dll" \(([^)]*)\) As Long', text)}


def main(bas, header, def_file=None):
    functions = header_functions(open(header).read())
    module = open(bas).read()
    vba7, _, older = module.partition("#If VBA7 Then")[2].partition("#End If")[0].partition("#Else")
    failures = []
    for branch, text, ptr_safe, handle in (("#If VBA7", vba7, "PtrSafe ", "LongPtr"),
                                           ("#Else", older, "", "Long")):
        declarations = declared(text, ptr_safe)
        if sorted(declarations) != sorted(functions):
            failures.append(f"{branch} declares {sorted(declarations)}, "
                            f"the header {sorted(functions)}")
        for name, args in declarations.items():
            got = [" ".join(arg) for arg in args]
            want = [form.replace("LongPtr", handle) for form in functions.get(name, [])]
            if got != want:
                failures.append(f"{branch} {name}({', '.join(got)}), the header: {want}")
    if def_file:
        stack = dict(re.findall(r"^\s*(\w+)@(\d+)\s*$", open(def_file).read(), re.M))
        failures += [f"{def_file}: {name}@{stack.get(name)}, {len(args)} arguments"
                     for name, args in functions.items()
                     if stack.get(name) != str(4 * len(args))]
    print(f"{bas}: {len(functions)} functions as {header} declares them"
          if not failures else "\n".join(f"FAIL {failure}" for failure in failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
