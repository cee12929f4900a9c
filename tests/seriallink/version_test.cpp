#include "fake_win32.h"
#include "logic.h"

namespace vetrolink
{
namespace
{

// Reports one Windows version, and whether the query succeeded.
struct ReportedVersion : testing::FakeWin32 {
    DWORD platformId, major, minor;
    BOOL succeeds;
    ReportedVersion(DWORD p, DWORD ma, DWORD mi, BOOL ok = TRUE)
        : platformId(p), major(ma), minor(mi), succeeds(ok)
    {
    }

    BOOL GetVersionExA(OSVERSIONINFOA *info) const override
    {
        info->dwPlatformId = platformId;
        info->dwMajorVersion = major;
        info->dwMinorVersion = minor;
        return succeeds;
    }
};

TEST(WindowsVer, MapsTheReportedVersionToItsFamily)
{
    struct {
        const char *windows;
        DWORD platformId, major, minor;
        int family;
    } const rows[] = {
        {"NT 4.0", 2, 4, 0, 0},
        {"2000", 2, 5, 0, 2000},
        {"Server 2003", 2, 5, 2, 2000},
        {"Vista", 2, 6, 0, 2007},
        {"8.1", 2, 6, 3, 2007},
        {"10", 2, 10, 0, 0},
        {"95", 1, 4, 0, 98},
        {"Me", 1, 4, 90, 98},
        {"9x reporting 5.0", 1, 5, 0, 98},
        {"Win32s", 0, 3, 10, 0},
        {"NT 6 with an unknown platform id", 7, 6, 1, 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.family, WindowsVer(ReportedVersion(row.platformId, row.major, row.minor)))
            << row.windows;
    EXPECT_EQ(0, WindowsVer(ReportedVersion(2, 6, 1, FALSE)))
        << "a failed query, whatever it wrote";
}

} // namespace
} // namespace vetrolink
