// The receive cycle from start-up to the acknowledgement: the exit code and
// what the host application finds in the work folder, and when.
#include <sstream>

#include "fake_receiver.h"

namespace ostrel::testing
{
namespace
{

using Numbers = std::vector<std::string>;

std::string LinesOf(const std::vector<Pass> &passes, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count && i < passes.size(); ++i)
        if (passes[i].byte != kNoByte) text += std::to_string(passes[i].byte) + "\n";
    return text;
}

// The status file's step numbers: what stands before "：" (0x81 0x46) on each line.
Numbers StepNumbers(const std::string &status)
{
    Numbers numbers;
    std::istringstream in(status);
    std::string line;
    while (std::getline(in, line))
        numbers.push_back(line.substr(0, line.find("\x81\x46")));
    return numbers;
}

TEST(ReceiveCycle, PublishesTheFirst350BytesAfterReleasingTheLinkAndCleansUpOnceAcknowledged)
{
    FakeReceiver fake;
    fake.passes = BlockPasses(400); // 0 to 255, then 0 to 143

    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));

    EXPECT_EQ("LoadLibraryA Vetrolink.dll", fake.calls.front());
    EXPECT_TRUE(fake.Called("ComPort " + std::to_string(kVendorId) + " 255"));
    EXPECT_TRUE(fake.Called("SetPort 19200 8 0 0 COM31"));
    EXPECT_EQ(kBlockSize, fake.reads);
    const auto &published = fake.filesWhenAcknowledged;
    ASSERT_TRUE(published.count("ReceiveData.csv"));
    EXPECT_EQ(LinesOf(fake.passes, kBlockSize), published.at("ReceiveData.csv"));
    EXPECT_EQ("0", published.at("ErrorMessage.csv"));
    EXPECT_EQ("", published.at("DataReady.csv"));
    EXPECT_FALSE(published.count("tempdata.csv"));
    EXPECT_LT(fake.At("CloseHandle"), fake.At("FreeLibrary"));
    EXPECT_LT(fake.At("FreeLibrary"), fake.At("MoveFileA tempdata.csv ReceiveData.csv"));
    EXPECT_TRUE(fake.files.empty());
}

TEST(ReceiveCycle, StartUpFailuresEndWithExit3AndLeaveTheFolderAlone)
{
    struct Row {
        const char *name;
        void (*setUp)(FakeReceiver &);
        bool portOpened; // SetPort stored a handle
    };
    const Row rows[] = {
        {"NoLibrary", [](FakeReceiver &f) { f.libraryPresent = false; }, false},
        {"NoWindowsVer", [](FakeReceiver &f) { f.missingExports = {"WindowsVer"}; }, false},
        {"NoComPort", [](FakeReceiver &f) { f.missingExports = {"ComPort"}; }, false},
        {"NoDevicePort", [](FakeReceiver &f) { f.comPortResult = 5; }, false},
        {"NoSetPort", [](FakeReceiver &f) { f.missingExports = {"SetPort"}; }, false},
        {"PortNotOpened", [](FakeReceiver &f) { f.setPortResult = 1; }, false},
        {"LineRefused", [](FakeReceiver &f) { f.setPortResult = 2; }, false},
        {"PurgeFailedWithPortOpen", [](FakeReceiver &f) { f.setPortResult = 3; }, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReceiver fake;
        fake.files = {{"ReceiveData.csv", "earlier\n"}, {"StopCommand.csv", ""}};
        row.setUp(fake);
        const auto before = fake.files;

        EXPECT_EQ(kExitLinkFailed, ReceiveCycle(fake));

        EXPECT_EQ(before, fake.files);
        EXPECT_FALSE(fake.Called("GetCurrentDirectoryA"));
        EXPECT_EQ(row.portOpened, fake.Called("CloseHandle"));
        EXPECT_EQ(fake.libraryPresent, fake.Called("FreeLibrary"));
    }
}

TEST(ReceiveCycle, OpensTheFirstPortOfTheList)
{
    const std::string unterminated(kPortListSize, 'C'); // fills the buffer: no comma, no NUL
    const std::pair<std::string, std::string> rows[] = {
        {"COM31,COM32,COM33,", "COM31"},
        {unterminated, unterminated.substr(1)},
    };
    for (const auto &[list, expected] : rows) {
        FakeReceiver fake;
        fake.portList = list;
        Link link;
        EXPECT_EQ(kOpenOk, OpenLink(fake, link)) << list;
        EXPECT_TRUE(fake.Called("SetPort 19200 8 0 0 " + expected)) << list;
        EXPECT_EQ(0, CloseLink(fake, link));
    }
}

// --- the time limit ---------------------------------------------------------

// The first byte comes at the start clock; the last pass moves the clock.
std::vector<Pass> Block(int count, std::time_t lastClock)
{
    auto passes = BlockPasses(count, kStartClock);
    passes.back().clock = lastClock;
    return passes;
}

std::vector<Pass> operator+(std::vector<Pass> a, const std::vector<Pass> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Pass> Idle(std::time_t from, std::time_t to)
{
    std::vector<Pass> passes;
    for (std::time_t t = from; t <= to; ++t)
        passes.push_back(Pass{kNoByte, t});
    return passes;
}

TEST(ReceiveCycle, EndsTheBlockOnlyWhenTheClockHasMovedMoreThanTwoSecondsSinceTheFirstByte)
{
    struct Row {
        const char *name;
        std::vector<Pass> passes;
        int exitCode;
        const char *count; // the count line's number, for exit 9
    };
    const Row rows[] = {
        {"LastByteInThePassThatExceedsTheLimit", Block(350, kStartClock + 3), kExitTimedOut, "350"},
        {"LastByteJustInsideTheLimit", Block(350, kStartClock + 2), kExitAcknowledged, nullptr},
        {"ExactlyTwoSecondsGoesOnExactlyThreeStops",
         Block(150, kStartClock) + BlockPasses(50, kStartClock + 2) +
             Idle(kStartClock + 2, kStartClock + 3),
         kExitTimedOut, "200"},
        {"LateBytesDoNotExtendTheLimit",
         Block(100, kStartClock) + Idle(kStartClock + 3, kStartClock + 3) + BlockPasses(250),
         kExitTimedOut, "100"},
        {"TheWaitForTheFirstByteDoesNotCount",
         Idle(kStartClock - 10, kStartClock - 1) + Block(350, kStartClock + 2), kExitAcknowledged,
         nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReceiver fake;
        fake.clock = kStartClock - 20; // when the wait for the first byte begins
        fake.passes = row.passes;
        EXPECT_EQ(row.exitCode, ReceiveCycle(fake));
        if (row.exitCode != kExitTimedOut) continue;
        EXPECT_EQ((Numbers{"1", "2", "4", "5", "6", "9", row.count}),
                  StepNumbers(fake.files["ErrorMessage.csv"]));
        EXPECT_FALSE(fake.Has("DataReady.csv"));
        EXPECT_FALSE(fake.Has("ReceiveData.csv"));
        EXPECT_TRUE(fake.Called("CloseHandle"));
        EXPECT_TRUE(fake.Called("FreeLibrary"));
    }
}

// --- the stop marker --------------------------------------------------------

TEST(ReceiveCycle, StopMarkerEndsTheWaitForTheFirstByte)
{
    FakeReceiver fake;
    fake.onRead = [&](int read) {
        if (read == 5) fake.files["StopCommand.csv"];
    };
    EXPECT_EQ(kExitStopped, ReceiveCycle(fake));
    EXPECT_EQ((Numbers{"1", "2", "4", "5", "1"}), StepNumbers(fake.files["ErrorMessage.csv"]));
    EXPECT_EQ(2u, fake.files.size());
    EXPECT_EQ(6, fake.reads);
}

TEST(ReceiveCycle, StopMarkerIsIgnoredWhileReceivingThenTakenAsTheAcknowledgement)
{
    FakeReceiver fake;
    fake.hostAcknowledges = false;
    fake.passes = BlockPasses(kBlockSize);
    fake.onRead = [&](int read) {
        if (read == 100) fake.files["StopCommand.csv"];
    };
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_TRUE(fake.Called("MoveFileA tempdata.csv ReceiveData.csv"));
    EXPECT_TRUE(fake.files.empty());
}

// --- the files --------------------------------------------------------------

TEST(ReceiveCycle, AScratchFileNotWrittenWholeIsNeverPublished)
{
    const std::pair<const char *, void (*)(FakeReceiver &)> rows[] = {
        {"ScratchFileCannotBeOpened", [](FakeReceiver &f) { f.openFails = {"tempdata.csv"}; }},
        {"LineNotWritten",
         [](FakeReceiver &f) {
             f.writeFailsAt = {{"tempdata.csv", 349}};
         }},
        {"CloseLosesData", [](FakeReceiver &f) { f.closeFails = {"tempdata.csv"}; }},
    };
    for (const auto &[name, setUp] : rows) {
        SCOPED_TRACE(name);
        FakeReceiver fake;
        fake.passes = BlockPasses(kBlockSize);
        fake.files["tempdata.csv"] = "a block of an earlier run\n";
        setUp(fake);

        EXPECT_EQ(kExitFileFailed, ReceiveCycle(fake));

        EXPECT_EQ((Numbers{"1", "2", "4", "5", "6", "1"}),
                  StepNumbers(fake.files["ErrorMessage.csv"]));
        EXPECT_FALSE(fake.Has("ReceiveData.csv"));
        ASSERT_TRUE(fake.Has("DataReady.csv"));
        EXPECT_EQ("", fake.files["DataReady.csv"]);
    }
}

TEST(ReceiveCycle, AStatusFileThatCannotBeOpenedChangesNothingElse)
{
    FakeReceiver fake;
    fake.openFails = {"ErrorMessage.csv"};
    fake.passes = BlockPasses(kBlockSize);
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_FALSE(fake.filesWhenAcknowledged.count("ErrorMessage.csv"));
    EXPECT_EQ(LinesOf(fake.passes, kBlockSize), fake.filesWhenAcknowledged["ReceiveData.csv"]);
}

} // namespace
} // namespace ostrel::testing
