// WindowsVer for real, in each Windows version that Wine can pretend to be.
#include <gtest/gtest.h>

#include "wine_support.h"

namespace
{

struct ModeRow {
    const char *mode;
    DWORD family;
};

class WindowsVerUnderWine : public ::testing::TestWithParam<ModeRow>
{
};

TEST_P(WindowsVerUnderWine, ReportsTheFamilyOfTheMode)
{
    winetest::RunResult run =
        winetest::RunInWindowsMode(winetest::ProgramDir() + "\\version_probe.exe", GetParam().mode);
    EXPECT_EQ(GetParam().family, run.exitCode) << run.output;
}

// win10 reports 6.2 to a program without a Windows 10 manifest.
INSTANTIATE_TEST_SUITE_P(Modes, WindowsVerUnderWine,
                         ::testing::Values(ModeRow{"win98", 98}, ModeRow{"win2k", 2000},
                                           ModeRow{"winxp", 2000}, ModeRow{"win2003", 2000},
                                           ModeRow{"vista", 2007}, ModeRow{"win7", 2007},
                                           ModeRow{"win10", 2007}, ModeRow{"nt40", 0}),
                         [](const auto &info) { return std::string(info.param.mode); });

} // namespace
