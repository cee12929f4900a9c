// The work folder by both rules, and the paths that must stay in their buffers.
#include <cstring>

#include "fake_receiver.h"

namespace ostrel::testing
{
namespace
{

struct FolderRow {
    const char *name;
    int osFamily;
    std::function<void(FakeReceiver &)> setUp;
    const char *expected; // nullptr: the folder cannot be determined
};

class WorkFolder : public ::testing::TestWithParam<FolderRow>
{
};

TEST_P(WorkFolder, FollowsTheRuleOfTheFamily)
{
    FakeReceiver fake;
    GetParam().setUp(fake);
    char folder[kPathSize];
    std::memset(folder, 0x5a, sizeof folder);
    int result = GetWorkFolder(fake, folder, GetParam().osFamily);
    if (GetParam().expected == nullptr) {
        EXPECT_EQ(1, result);
    } else {
        ASSERT_EQ(0, result);
        EXPECT_STREQ(GetParam().expected, folder);
    }
}

auto InCurrentDirectory(std::string dir)
{
    return [dir](FakeReceiver &f) { f.currentDirectory = dir; };
}

// A current directory of LENGTH characters: "C:\" then 'd's.
auto CurrentDirectoryOfLength(DWORD length)
{
    return [length](FakeReceiver &f) {
        f.currentDirectory = "C:\\";
        f.currentDirectoryLength = length;
    };
}

const std::string k482 = "C:\\" + std::string(475, 'd') + "Work"; // 482 characters

INSTANTIATE_TEST_SUITE_P(
    Rules, WorkFolder,
    ::testing::Values(
        FolderRow{"Nt5", 2000, InCurrentDirectory("C:\\host\\Program"), "C:\\host\\Work"},
        FolderRow{"Win98", 98, InCurrentDirectory("C:\\host\\Program"), "C:\\host\\Work"},
        FolderRow{"Unknown", 0, InCurrentDirectory("C:\\host\\Program"), "C:\\host\\Work"},
        FolderRow{"SevenCharacters", 2000, InCurrentDirectory("Program"), "Work"},
        FolderRow{"NotAtABackslash", 2000, InCurrentDirectory("C:\\a\\bc\\def"), "C:\\aWork"},
        FolderRow{"TooShort", 2000, InCurrentDirectory("C:\\abc"), nullptr},
        FolderRow{"CurrentDirectoryFails", 2000,
                  [](FakeReceiver &f) { f.currentDirectoryFails = true; }, nullptr},
        FolderRow{"CurrentDirectoryTooLong", 2000, CurrentDirectoryOfLength(499), nullptr},
        FolderRow{"LongestFolder", 2000, CurrentDirectoryOfLength(485), k482.c_str()},
        FolderRow{"FolderTooLongForItsFiles", 2000, CurrentDirectoryOfLength(486), nullptr},
        FolderRow{"AppData", 2007, [](FakeReceiver &) {},
                  "C:\\users\\me\\AppData\\Roaming\\Tervon\\KAV20\\work"},
        FolderRow{"AppDataLocationFails", 2007,
                  [](FakeReceiver &f) { f.appDataLocationFails = true; }, nullptr},
        FolderRow{"AppDataPathFails", 2007, [](FakeReceiver &f) { f.appDataPathFails = true; },
                  nullptr},
        FolderRow{"FamilyAboveNt6", 2008, [](FakeReceiver &) {}, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WorkFolder, TakesTheLongestApplicationDataPathTheShellGives)
{
    FakeReceiver fake;
    fake.appData = "C:\\" + std::string(256, 'a'); // MAX_PATH less the NUL
    char folder[kPathSize];
    ASSERT_EQ(0, GetWorkFolder(fake, folder, 2007));
    EXPECT_EQ(fake.appData + "\\Tervon\\KAV20\\work", folder);
}

TEST(WorkFolder, UndeterminedFolderEndsTheCycleWithExit1BeforeAnyFile)
{
    FakeReceiver fake;
    fake.currentDirectory = "C:\\";
    fake.files["StopCommand.csv"];
    EXPECT_EQ(kExitNoWorkFolder, ReceiveCycle(fake));
    EXPECT_EQ(1u, fake.files.size());
    EXPECT_FALSE(fake.Called("PurgeComm"));
}

TEST(FileExists, SeesOnlyFilesItCanOpenForReading)
{
    FakeReceiver fake;
    fake.files["DataReady.csv"];
    fake.files["StopCommand.csv"].readLocked = true;
    EXPECT_EQ(0, FileExists(fake, fake.Path("DataReady.csv").c_str()));
    EXPECT_EQ(2, FileExists(fake, fake.Path("StopCommand.csv").c_str()));
    EXPECT_EQ(2, FileExists(fake, fake.Path("ReceiveData.csv").c_str()));
}

TEST(RemoveFile, ReportsWhetherTheFileWentAway)
{
    FakeReceiver fake;
    fake.files["DataReady.csv"];
    fake.files["ErrorMessage.csv"].undeletable = true;
    EXPECT_EQ(0, RemoveFile(fake, fake.Path("DataReady.csv").c_str()));
    EXPECT_EQ(1, RemoveFile(fake, fake.Path("ErrorMessage.csv").c_str()));
    EXPECT_EQ(1, RemoveFile(fake, fake.Path("DataReady.csv").c_str()));
}

} // namespace
} // namespace ostrel::testing
