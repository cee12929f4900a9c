#include <vector>

#include "fake_win32.h"
#include "logic.h"

namespace vetrolink
{
namespace
{

struct ReportedVersion : testing::FakeWin32 {
    DWORD platformId = 0, major = 0, minor = 0;
    BOOL queryResult = TRUE;
    mutable std::vector<DWORD> sizesSeen;

    BOOL GetVersionExA(OSVERSIONINFOA *info) const override
    {
        sizesSeen.push_back(info->dwOSVersionInfoSize);
        if (!queryResult) return FALSE;
        info->dwPlatformId = platformId;
        info->dwMajorVersion = major;
        info->dwMinorVersion = minor;
        return TRUE;
    }
};

struct VersionRow {
    const char *windows;
    DWORD platformId, major, minor;
    int family;
};

class WindowsVerTest : public ::testing::TestWithParam<VersionRow>
{
};

TEST_P(WindowsVerTest, MapsTheReportedVersionToItsFamily)
{
    const VersionRow &row = GetParam();
    ReportedVersion win;
    win.platformId = row.platformId;
    win.major = row.major;
    win.minor = row.minor;

    EXPECT_EQ(row.family, WindowsVer(win)) << row.windows;
    EXPECT_EQ(row.family, WindowsVer(win)) << "a second call answers the same";
    // Asked anew each time, with the size of the record the query expects.
    EXPECT_EQ((std::vector<DWORD>{148, 148}), win.sizesSeen);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, WindowsVerTest,
    ::testing::Values(VersionRow{"NT 4.0", 2, 4, 0, 0}, VersionRow{"2000", 2, 5, 0, 2000},
                      VersionRow{"XP", 2, 5, 1, 2000}, VersionRow{"Server 2003", 2, 5, 2, 2000},
                      VersionRow{"Vista", 2, 6, 0, 2007}, VersionRow{"7", 2, 6, 1, 2007},
                      VersionRow{"8", 2, 6, 2, 2007}, VersionRow{"8.1", 2, 6, 3, 2007},
                      VersionRow{"10", 2, 10, 0, 0}, VersionRow{"95", 1, 4, 0, 98},
                      VersionRow{"98", 1, 4, 10, 98}, VersionRow{"Me", 1, 4, 90, 98},
                      VersionRow{"9x reporting 5.0", 1, 5, 0, 98},
                      VersionRow{"Win32s", 0, 3, 10, 0}, VersionRow{"CE", 3, 6, 0, 0},
                      VersionRow{"NT 6 unknown platform id", 7, 6, 1, 0}));

TEST(WindowsVer, AFailedQueryMeansTheFamilyIsUnknown)
{
    ReportedVersion win;
    win.queryResult = FALSE;
    EXPECT_EQ(0, WindowsVer(win));
}

} // namespace
} // namespace vetrolink
