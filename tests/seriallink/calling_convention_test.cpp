// 32-bit hosts (VBA, VB6) call the plain exports as WINAPI (__stdcall): the
// callee removes its arguments from the stack; a cdecl export would leave
// them there and corrupt the host's stack. Each export, bound by name as
// such a host binds it, is called from a few lines of assembly that count
// the bytes the callee left. cdecl_decoy.dll, the interface built as cdecl,
// must leave 4 bytes an argument: the check sees such a build.
#include <gtest/gtest.h>

#include <cstdint>

#include "Vetrolink.h"

// StackBytesLeft(function, args, count): pushes args[count - 1] to args[0],
// calls, returns how far the stack pointer stayed below where it was.
extern "C" int StackBytesLeft(FARPROC function, const uint32_t *args, int count);
asm(R"(
    .globl _StackBytesLeft
_StackBytesLeft:
    pushl %esi
    pushl %edi
    movl 12(%esp), %eax
    movl 16(%esp), %esi
    movl 20(%esp), %ecx
    movl %esp, %edi
1:  jecxz 2f
    pushl -4(%esi,%ecx,4)
    loop 1b
2:  call *%eax
    movl %edi, %eax
    subl %esp, %eax
    movl %edi, %esp
    popl %edi
    popl %esi
    ret
)");

TEST(CallingConvention, EachPlainExportCleansUpItsArguments)
{
    // Calls that are harmless on a PC without the device.
    char buffer[100];
    const uint32_t none = static_cast<uint32_t>(-1), out = reinterpret_cast<uintptr_t>(buffer),
                   name = reinterpret_cast<uintptr_t>("NOPORT1");
    const struct {
        const char *name;
        int argCount;
        uint32_t args[6];
    } calls[] = {
        {"WindowsVer", 0, {}},
        {"AskVer", 1, {out}},
        {"ComPort", 4, {0xFFFE, 0xFFFE, out, out}},
        {"SetPort", 6, {19200, 8, 0, 0, out, name}},
        {"SetPortOver", 6, {19200, 8, 0, 0, out, name}},
        {"ReadData", 2, {none, out}},
        {"WriteData", 4, {none, out, 0, out}},
        {"ClearBuffer", 2, {none, 99}},
        {"CloseCom", 1, {0}},
    };
    for (const char *dll : {"Vetrolink.dll", "cdecl_decoy.dll"}) {
        HMODULE library = LoadLibraryA(dll);
        ASSERT_NE(nullptr, library) << dll;
        for (const auto &call : calls) {
            FARPROC function = GetProcAddress(library, call.name);
            ASSERT_NE(nullptr, function) << dll << " exports no " << call.name;
            EXPECT_EQ(dll[0] == 'V' ? 0 : 4 * call.argCount,
                      StackBytesLeft(function, call.args, call.argCount))
                << dll << ": " << call.name;
        }
    }
}
