"""The VBA modules' Declare and Type lines against the C declarations, as static_asserts for
this build's compiler (docs/testing.md, "The VBA modules").

  check_vba.py CXX HEADER DEF|- NM|- BAS...     (DEF and NM in 32-bit builds)
"""
import re
import subprocess
import sys

C_TYPES = {"Long": "int", "Integer": "short", "Byte": "unsigned char", "LongPtr": "INT_PTR"}
CHECKS = """#include "Vetrolink.h"
#include <shlobj.h>
#include <cstddef>
#include <type_traits>
using namespace std;
template <size_t N> struct Val {}; // ByVal, N bytes
template <size_t N> struct Ref {}; // ByRef to N bytes, or to any buffer for a void *
struct String {};                  // ByVal String: an ANSI copy's char *
struct Sub {};
template <class C, size_t N> constexpr bool Fits(Val<N>) { return sizeof(C) == N; }
template <class C> constexpr bool Fits(Sub) { return is_void_v<C>; }
template <class C> constexpr bool Fits(String)
{ return is_same_v<C, char *> || is_same_v<C, const char *>; }
template <class C, size_t N> constexpr bool Fits(Ref<N>)
{
    if constexpr (is_pointer_v<C> && !is_void_v<remove_pointer_t<C>>) return sizeof(*C()) == N;
    else return is_pointer_v<C>;
}
template <class R, class... C, class VR, class... V>
constexpr bool Declared(R(WINAPI *)(C...), VR result, V... vba)
{
    if constexpr (sizeof...(C) != sizeof...(V)) return false;
    else return Fits<R>(result) && (Fits<C>(vba) && ...);
}
"""
BLOCK = re.compile(r"^#If VBA7 Then\n(.*?)^#Else\n(.*?)^#End If\n", re.M | re.S)
DECLARE = re.compile(r'^(?:Private |Public )?Declare (PtrSafe )?(Function|Sub) (\w+) Lib '
                     r'"([\w.]+)" (?:Alias "(\w+)" )?\(([^)]*)\)(?: As (\w+))?', re.M)


def passing(how, vba_type):  # an argument, or the result, as CHECKS names it
    size = f"sizeof({C_TYPES.get(vba_type, vba_type)})"
    return "String{}" if (how, vba_type) == ("ByVal", "String") else f"{how[2:]}<{size}>{{}}"


def branch(name, text, ptr_safe, failures):
    """C++ for one branch, and its functions: {C name: (library, number of arguments)}."""
    out, functions = [f"namespace {name} {{"], {}
    for struct, body in re.findall(r"^(?:Private )?Type (\w+)\n(.*?)^End Type", text, re.M | re.S):
        fields = re.findall(r"^\s*(\w+) As (\w+)", body, re.M)
        out.append(f"struct {struct} {{ {' '.join(f'{C_TYPES[t]} {f};' for f, t in fields)} }};")
        out.append(f"static_assert(sizeof({struct}) == sizeof(::{struct})" + "".join(
            f" && offsetof({struct}, {f}) == offsetof(::{struct}, {f}) && sizeof({struct}::{f})"
            f" == sizeof(::{struct}::{f})" for f, _ in fields) + f', "{name}: Type {struct}");')
    for safe, kind, vba_name, library, alias, args, result in DECLARE.findall(text):
        # An argument without ByVal or ByRef is left out: the count then fails.
        args = re.findall(r"^\s*(ByVal|ByRef) \w+ As (\w+)\s*$", args.replace(",", "\n"), re.M)
        failures += [f"{name} {vba_name}: PtrSafe only from VBA7 on"] * (safe != ptr_safe)
        functions[alias or vba_name] = (library.lower().replace(".dll", ""), len(args))
        vba = [passing("ByVal", result) if kind == "Function" else "Sub{}"]
        out.append(f"static_assert(Declared(&::{alias or vba_name}, "
                   f'{", ".join(vba + [passing(*a) for a in args])}), "{name}: {vba_name}");')
    if len(re.findall(r"^(?:Private |Public )?Declare ", text, re.M)) != len(functions):
        failures.append(f"{name}: a Declare that this check cannot read")
    return "\n".join(out + ["}"]), functions


def run(*command, input=None):
    return subprocess.run(command, input=input, text=True, capture_output=True)


def main(cxx, header, def_file, nm, *modules):
    failures, code, declared, symbols = [], [CHECKS], {}, {}
    for module in modules:
        text = open(module).read().replace("\r", "").replace(" _\n", " ")
        for name, group, ptr_safe in (("vba7", r"\1", "PtrSafe "), ("vba6", r"\2", "")):
            checks, functions = branch(name, BLOCK.sub(group, text), ptr_safe, failures)
            declared.setdefault(name, {}).update(functions)
            code.append(checks if name == "vba7" or def_file != "-" else "")
    nine = sorted(re.findall(r"int VETROLINK_CALL (\w+)\(", open(header).read()))
    for name, functions in declared.items():
        ours = sorted(f for f, (library, _) in functions.items() if library == "vetrolink")
        failures += [f"{name} declares {ours} of Vetrolink.dll, the header {nine}"] * (ours != nine)
        for function, (library, count) in functions.items() if def_file != "-" else ():
            if library not in symbols:
                symbols[library] = open(def_file).read() if library == "vetrolink" else run(
                    nm, run(cxx, f"-print-file-name=lib{library}.a").stdout.strip()).stdout
            stack = re.findall(rf"(?:^\s*| T _){function}@(\d+)\s*$", symbols[library], re.M)
            failures += [f"{name} {function}: {library} has @{stack}"] * (stack != [str(4 * count)])
    include = f"-I{header.rpartition('/')[0]}"  # and the header as C hosts compile it
    for language, source in (("c++", "\n".join(code)), ("c", '#include "Vetrolink.h"\n')):
        compiled = run(cxx, "-std=c++17" if language == "c++" else "-Wall", "-Werror", "-x",
                       language, "-fsyntax-only", include, "-", input=source)
        failures += [line for line in compiled.stderr.splitlines() if "error" in line]
    print("\n".join(f"FAIL {failure}" for failure in failures[:20]) or f"{len(modules)} modules: "
          f"{len(declared['vba7'])} functions and their Types as the C declarations have them")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
