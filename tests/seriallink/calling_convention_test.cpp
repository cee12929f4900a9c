// 32-bit hosts (VBA, VB6) call the plain exports as WINAPI (__stdcall): the
// callee removes its arguments from the stack. An export built as cdecl
// would leave them there and corrupt the host's stack. Each export is bound
// by name, as such a host does, and called from a few lines of assembly that
// measure how many bytes the callee left on the stack.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Vetrolink.h"

extern "C" int StackBytesLeftByCall(const void *function, const uint32_t *args, int count);

// Pushes the arguments right to left, calls, and returns how far the stack
// pointer stayed below where it was before the pushes; then restores it.
asm(R"(
    .text
    .globl _StackBytesLeftByCall
_StackBytesLeftByCall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl %edi, %eax
    subl %esp, %eax
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

namespace
{

int WINAPI ReferenceWinapi(int, int, int, int) { return 0; }
int __cdecl ReferenceCdecl(int, int, int, int) { return 0; }

uint32_t Arg(const void *pointer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

struct ExportCall {
    const char *name;
    int argCount;
    uint32_t args[6];
};

// Calls that are safe on a PC without the device: no port opens, nothing
// written outside the buffers.
std::vector<ExportCall> HarmlessCalls(char *text, int *count, HANDLE *handle, unsigned char *byte,
                                      DWORD *written, HANDLE closable)
{
    const uint32_t invalid = Arg(INVALID_HANDLE_VALUE);
    return {
        {"WindowsVer", 0, {}},
        {"AskVer", 1, {Arg(text)}},
        {"ComPort", 4, {0xFFFE, 0xFFFE, Arg(count), Arg(text)}},
        {"SetPort", 6, {19200, 8, 0, 0, Arg(handle), Arg("NOPORT1")}},
        {"SetPortOver", 6, {19200, 8, 0, 0, Arg(handle), Arg("NOPORT1")}},
        {"ReadData", 2, {invalid, Arg(byte)}},
        {"WriteData", 4, {invalid, Arg(byte), 0, Arg(written)}},
        {"ClearBuffer", 2, {invalid, 99}},
        {"CloseCom", 1, {Arg(closable)}},
    };
}

TEST(StackMeasure, TellsTheTwoConventionsApart)
{
    const uint32_t args[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, StackBytesLeftByCall(reinterpret_cast<const void *>(&ReferenceWinapi), args, 4));
    EXPECT_EQ(16, StackBytesLeftByCall(reinterpret_cast<const void *>(&ReferenceCdecl), args, 4));
}

class ExportConvention : public ::testing::TestWithParam<std::pair<const char *, bool>>
{
};

TEST_P(ExportConvention, EachPlainExportCleansUpItsArguments)
{
    const char *dll = GetParam().first;
    const bool isWinapi = GetParam().second;
    HMODULE library = LoadLibraryA(dll);
    ASSERT_NE(nullptr, library) << dll;

    char text[100];
    int count = -1;
    HANDLE handle = nullptr;
    unsigned char byte = 0;
    DWORD written = 0;
    HANDLE closable = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (const ExportCall &call : HarmlessCalls(text, &count, &handle, &byte, &written, closable)) {
        FARPROC function = GetProcAddress(library, call.name);
        ASSERT_NE(nullptr, function) << call.name << " is not exported by its plain name";
        int left = StackBytesLeftByCall(reinterpret_cast<const void *>(function), call.args,
                                        call.argCount);
        int expected = isWinapi ? 0 : 4 * call.argCount;
        EXPECT_EQ(expected, left) << dll << ": " << call.name << " with " << call.argCount
                                  << " arguments";
    }
    FreeLibrary(library);
}

// The cdecl decoy is the same interface built with the wrong convention:
// the check must see it.
INSTANTIATE_TEST_SUITE_P(Builds, ExportConvention,
                         ::testing::Values(std::make_pair("Vetrolink.dll", true),
                                           std::make_pair("cdecl_decoy.dll", false)),
                         [](const auto &info) {
                             return std::string(info.param.second ? "Vetrolink" : "CdeclDecoy");
                         });

} // namespace
