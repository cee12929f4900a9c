// The work folder by the rule of the OS family, and the paths that must stay
// in their buffers.
#include <cstring>

#include "fake_receiver.h"

namespace ostrel::testing
{
namespace
{

// A current directory of LENGTH characters: "C:\" then 'd's.
void CurrentDirectoryOfLength(FakeReceiver &f, DWORD length)
{
    f.currentDirectory = "C:\\";
    f.currentDirectoryLength = length;
}

TEST(WorkFolder, FollowsTheRuleOfTheFamilyAndStaysInsideItsBuffer)
{
    const std::string longestAppData = "C:\\" + std::string(256, 'a'); // MAX_PATH less the NUL
    const std::string longestFolder = "C:\\" + std::string(475, 'd') + "Work"; // 482 characters
    const std::string inAppData = "\\Tervon\\KAV20\\work";
    struct Row {
        const char *name;
        int osFamily;
        std::function<void(FakeReceiver &)> setUp;
        std::string expected; // "": the folder cannot be determined
    };
    const Row rows[] = {
        {"Nt5", 2000, [](FakeReceiver &) {}, "C:\\host\\Work"},
        {"Unknown", 0, [](FakeReceiver &) {}, "C:\\host\\Work"},
        {"SevenCharacters", 2000, [](FakeReceiver &f) { f.currentDirectory = "Program"; }, "Work"},
        {"NotAtABackslash", 2000, [](FakeReceiver &f) { f.currentDirectory = "C:\\a\\bc\\def"; },
         "C:\\aWork"},
        {"TooShort", 2000, [](FakeReceiver &f) { f.currentDirectory = "C:\\abc"; }, ""},
        {"CurrentDirectoryFails", 2000, [](FakeReceiver &f) { f.currentDirectoryFails = true; },
         ""},
        {"CurrentDirectoryTooLong", 2000, [](FakeReceiver &f) { CurrentDirectoryOfLength(f, 499); },
         ""},
        {"LongestFolder", 2000, [](FakeReceiver &f) { CurrentDirectoryOfLength(f, 485); },
         longestFolder},
        {"FolderTooLongForItsFiles", 2000,
         [](FakeReceiver &f) { CurrentDirectoryOfLength(f, 486); }, ""},
        {"AppData", 2007, [](FakeReceiver &) {}, "C:\\users\\me\\AppData\\Roaming" + inAppData},
        {"LongestAppData", 2007, [&](FakeReceiver &f) { f.appData = longestAppData; },
         longestAppData + inAppData},
        {"AppDataLocationFails", 2007, [](FakeReceiver &f) { f.appDataLocationFails = true; }, ""},
        {"AppDataPathFails", 2007, [](FakeReceiver &f) { f.appDataPathFails = true; }, ""},
        {"FamilyAboveNt6", 2008, [](FakeReceiver &) {}, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReceiver fake;
        row.setUp(fake);
        char folder[kPathSize];
        std::memset(folder, 'Z', sizeof folder); // a missing terminator shows
        int result = GetWorkFolder(fake, folder, row.osFamily);
        EXPECT_EQ(row.expected.empty() ? 1 : 0, result);
        if (result == 0) EXPECT_EQ(row.expected, folder);
    }
}

} // namespace
} // namespace ostrel::testing
