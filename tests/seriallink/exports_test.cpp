// The DLL as a host program sees it: bound by name, linked by its import
// library for the C++ exports, and asked for the Windows version in each
// mode that Wine can pretend.
#include <gtest/gtest.h>

#include <cstring>

#include "Vetrolink.h"
#include "wine_support.h"

namespace
{

TEST(BoundByName, AskVerFillsSevenBytesAndNoMore)
{
    HMODULE library = LoadLibraryA("Vetrolink.dll");
    ASSERT_NE(nullptr, library);
    auto askVer =
        reinterpret_cast<AskVerProc>(reinterpret_cast<void *>(GetProcAddress(library, "AskVer")));
    ASSERT_NE(nullptr, askVer);
    for (unsigned char fill : {0x00, 0xff}) {
        unsigned char buffer[7 + 9];
        std::memset(buffer, fill, sizeof buffer);
        EXPECT_EQ(0, askVer(reinterpret_cast<char *>(buffer)));
        EXPECT_EQ(0, std::memcmp(buffer, "Ver5.1\0", 7));
        for (size_t i = 7; i < sizeof buffer; ++i)
            EXPECT_EQ(fill, buffer[i]) << "byte " << i;
    }
    FreeLibrary(library);
}

TEST(CxxExports, WorkThroughTheImportLibrary)
{
    EXPECT_EQ(42, fnVetrolink());
    EXPECT_EQ(0, nVetrolink);
    CVetrolink a, b;
    EXPECT_EQ(&a, &(a = b));
}

TEST(WindowsVerUnderWine, ReportsTheFamilyOfTheMode)
{
    // win10 reports 6.2 to a program without a Windows 10 manifest.
    const struct {
        const char *mode;
        DWORD family;
    } rows[] = {{"win98", 98}, {"winxp", 2000}, {"win7", 2007}, {"win10", 2007}, {"nt40", 0}};
    for (const auto &row : rows) {
        winetest::RunResult run =
            winetest::RunInWindowsMode(winetest::ProgramDir() + "\\version_probe.exe", row.mode);
        EXPECT_EQ(row.family, run.exitCode) << row.mode << ": " << run.output;
    }
}

} // namespace
