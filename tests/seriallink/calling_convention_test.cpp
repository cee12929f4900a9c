// 32-bit hosts (VBA, VB6) call the plain exports as WINAPI: the callee removes its arguments
// from the stack, and a cdecl export would corrupt the host's stack. Each export, bound by name,
// is called from a few lines of assembly that count the bytes it left; cdecl_decoy.dll (the
// interface built as cdecl) must leave 4 an argument, so the check is seen to fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "Vetrolink.h"

// Pushes `arg` `count` times, calls, returns the bytes left on the stack.
extern "C" int StackBytesLeft(FARPROC function, uint32_t arg, int count);
asm(R"(
    .globl _StackBytesLeft
_StackBytesLeft:
    pushl %edi
    movl 8(%esp), %eax
    movl 12(%esp), %edx
    movl 16(%esp), %ecx
    movl %esp, %edi
1:  jecxz 2f
    pushl %edx
    loop 1b
2:  call *%eax
    movl %edi, %eax
    subl %esp, %eax
    movl %edi, %esp
    popl %edi
    ret
)");

TEST(CallingConvention, EachPlainExportCleansUpItsArguments)
{
    // Every argument is the address of zeroed bytes: as a number no known
    // device, count or mode; as a pointer an empty name, or room to write.
    static char zeros[256];
    const std::pair<const char *, int> exports[] = {
        {"WindowsVer", 0}, {"AskVer", 1},    {"ComPort", 4},     {"SetPort", 6}, {"SetPortOver", 6},
        {"ReadData", 2},   {"WriteData", 4}, {"ClearBuffer", 2}, {"CloseCom", 1}};
    for (const char *dll : {"Vetrolink.dll", "cdecl_decoy.dll"}) {
        HMODULE library = LoadLibraryA(dll); // if missing, no export is found
        for (auto [name, argCount] : exports) {
            FARPROC function = GetProcAddress(library, name);
            ASSERT_NE(nullptr, function) << dll << " exports no " << name;
            std::memset(zeros, 0, sizeof zeros);
            EXPECT_EQ(dll[0] == 'V' ? 0 : 4 * argCount,
                      StackBytesLeft(function, reinterpret_cast<uintptr_t>(zeros), argCount))
                << dll << ": " << name;
        }
    }
}
