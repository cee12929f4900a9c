// The receive cycle from the first byte to the acknowledgement: what the
// host application finds in the work folder, and when.
#include <sstream>

#include "fake_receiver.h"

namespace ostrel::testing
{
namespace
{

std::string LinesOf(const std::vector<Pass> &passes, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count && i < passes.size(); ++i)
        if (passes[i].byte != kNoByte) text += std::to_string(passes[i].byte) + "\n";
    return text;
}

// The status file's lines: the number before "：" (0x81 0x46) and the words after it.
std::vector<std::pair<std::string, std::string>> StatusLines(const std::string &status)
{
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find("\x81\x46");
        lines.emplace_back(line.substr(0, colon),
                           colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    return lines;
}

std::vector<std::string> StepNumbers(const std::string &status)
{
    std::vector<std::string> numbers;
    for (const auto &line : StatusLines(status))
        numbers.push_back(line.first);
    return numbers;
}

using Numbers = std::vector<std::string>;

TEST(ReceiveCycle, PublishesTheBlockAndCleansUpOnceAcknowledged)
{
    FakeReceiver fake;
    fake.passes = BlockPasses(kBlockSize); // 0 to 255, then 0 to 93
    std::string armedStatus;
    fake.onRead = [&](int read) {
        if (read == 0) armedStatus = fake.Content("ErrorMessage.csv");
    };

    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));

    // Armed: steps 1, 2, 4 and 5, each with the same words, no break at the end.
    auto armed = StatusLines(armedStatus);
    EXPECT_EQ((Numbers{"1", "2", "4", "5"}), StepNumbers(armedStatus));
    for (const auto &line : armed)
        EXPECT_EQ(armed[0].second, line.second);
    EXPECT_NE('\n', armedStatus.back());
    EXPECT_EQ("6", StatusLines(fake.statusHistory[4]).back().first);

    // Published: the data, the success mark, the empty marker.
    const auto &published = fake.filesWhenAcknowledged;
    ASSERT_TRUE(published.count("ReceiveData.csv"));
    EXPECT_EQ(LinesOf(fake.passes, kBlockSize), published.at("ReceiveData.csv").content);
    EXPECT_EQ("0", published.at("ErrorMessage.csv").content);
    EXPECT_EQ("", published.at("DataReady.csv").content);
    EXPECT_FALSE(published.count("tempdata.csv"));

    EXPECT_TRUE(fake.files.empty());
    const std::vector<std::string> tail(fake.calls.end() - 4, fake.calls.end());
    EXPECT_EQ(
        (std::vector<std::string>{"DeleteFileA ReceiveData.csv", "DeleteFileA StopCommand.csv",
                                  "DeleteFileA ErrorMessage.csv", "DeleteFileA DataReady.csv"}),
        tail);
}

TEST(ReceiveCycle, ReleasesPortAndLibraryBeforePublishing)
{
    FakeReceiver fake;
    fake.passes = BlockPasses(kBlockSize);
    ASSERT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    auto at = [&](const std::string &call) {
        return std::find(fake.calls.begin(), fake.calls.end(), call) - fake.calls.begin();
    };
    EXPECT_LT(at("CloseHandle"), at("FreeLibrary"));
    EXPECT_LT(at("FreeLibrary"), at("MoveFileA tempdata.csv ReceiveData.csv"));
}

TEST(ReceiveCycle, KeepsOnlyTheFirst350BytesAndNothingSentBeforeThePurge)
{
    FakeReceiver fake;
    fake.sentBeforePurge = {0xEE, 0xEE, 0xEE};
    fake.passes = BlockPasses(400);
    ASSERT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_EQ(LinesOf(fake.passes, kBlockSize),
              fake.filesWhenAcknowledged["ReceiveData.csv"].content);
    EXPECT_EQ(kBlockSize, fake.reads);
}

// --- the time limit ---------------------------------------------------------

struct TimingRow {
    const char *name;
    std::function<std::vector<Pass>()> passes;
    int exitCode;
    const char *count; // the count line's number, for exit 9
};

class TimeLimit : public ::testing::TestWithParam<TimingRow>
{
};

TEST_P(TimeLimit, EndsTheBlockOnlyWhenTheClockHasMovedMoreThanTwoSeconds)
{
    FakeReceiver fake;
    fake.passes = GetParam().passes();
    EXPECT_EQ(GetParam().exitCode, ReceiveCycle(fake));
    if (GetParam().exitCode != kExitTimedOut) return;

    const std::string status = fake.Content("ErrorMessage.csv");
    auto lines = StatusLines(status);
    EXPECT_EQ((Numbers{"1", "2", "4", "5", "6", "9", GetParam().count}), StepNumbers(status));
    EXPECT_NE(lines[5].second, lines[6].second);
    EXPECT_FALSE(fake.Has("DataReady.csv"));
    EXPECT_FALSE(fake.Has("ReceiveData.csv"));
    EXPECT_TRUE(fake.Called("CloseHandle"));
    EXPECT_TRUE(fake.Called("FreeLibrary"));
}

// The first byte comes at the start clock; later passes move the clock.
std::vector<Pass> Block(int count, std::time_t lastClock)
{
    auto passes = BlockPasses(count, kStartClock);
    passes.back().clock = lastClock;
    return passes;
}

std::vector<Pass> TwoSecondsThenThree()
{
    auto passes = BlockPasses(200, kStartClock);
    for (int i = 150; i < 200; ++i)
        passes[i].clock = kStartClock + 2;
    passes.push_back(Pass{kNoByte, kStartClock + 2});
    passes.push_back(Pass{kNoByte, kStartClock + 3});
    return passes;
}

std::vector<Pass> LateBytes()
{
    auto passes = BlockPasses(100, kStartClock);
    passes.push_back(Pass{kNoByte, kStartClock + 3});
    for (const Pass &late : BlockPasses(250))
        passes.push_back(late);
    return passes;
}

INSTANTIATE_TEST_SUITE_P(
    Edges, TimeLimit,
    ::testing::Values(TimingRow{"LastByteInThePassThatExceedsTheLimit",
                                [] { return Block(350, kStartClock + 3); }, kExitTimedOut, "350"},
                      TimingRow{"LastByteJustInsideTheLimit",
                                [] { return Block(350, kStartClock + 2); }, kExitAcknowledged,
                                nullptr},
                      TimingRow{"ExactlyTwoSecondsGoesOnExactlyThreeStops", TwoSecondsThenThree,
                                kExitTimedOut, "200"},
                      TimingRow{"LateBytesDoNotExtendTheLimit", LateBytes, kExitTimedOut, "100"},
                      TimingRow{"OnlyTheFirstByte",
                                [] {
                                    auto passes = Block(1, kStartClock);
                                    passes.push_back(Pass{kNoByte, kStartClock + 3});
                                    return passes;
                                },
                                kExitTimedOut, "1"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TimeLimit, StartsWithTheFirstByteNotWithTheWait)
{
    FakeReceiver fake;
    // Ten idle passes while the clock runs on, then the block in time.
    for (int i = 0; i < 10; ++i)
        fake.passes.push_back(Pass{kNoByte, kStartClock + i});
    for (const Pass &pass : Block(350, kStartClock + 11))
        fake.passes.push_back(pass);
    fake.passes[10].clock = kStartClock + 9;
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
}

// --- the stop marker --------------------------------------------------------

TEST(StopMarker, LeftFromAnEarlierRunIsRemovedAndDoesNotStop)
{
    FakeReceiver fake;
    for (const char *stale :
         {"ReceiveData.csv", "DataReady.csv", "ErrorMessage.csv", "StopCommand.csv"})
        fake.files[stale].content = "stale";
    fake.passes = BlockPasses(kBlockSize);
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_EQ(LinesOf(fake.passes, kBlockSize),
              fake.filesWhenAcknowledged["ReceiveData.csv"].content);
}

TEST(StopMarker, EndsTheWaitForTheFirstByte)
{
    FakeReceiver fake;
    fake.onRead = [&](int read) {
        if (read == 5) fake.files["StopCommand.csv"];
    };
    EXPECT_EQ(kExitStopped, ReceiveCycle(fake));
    const std::string status = fake.Content("ErrorMessage.csv");
    EXPECT_EQ((Numbers{"1", "2", "4", "5", "1"}), StepNumbers(status));
    EXPECT_NE(StatusLines(status)[0].second, StatusLines(status)[4].second);
    EXPECT_TRUE(fake.Has("StopCommand.csv"));
    EXPECT_EQ(2u, fake.files.size());
    EXPECT_EQ(6, fake.reads);
}

TEST(StopMarker, HeldOpenWithoutReadSharingCountsAsAbsentUntilReleased)
{
    FakeReceiver fake;
    fake.onRead = [&](int read) {
        if (read == 1) fake.files["StopCommand.csv"].readLocked = true;
        if (read == 50) fake.files["StopCommand.csv"].readLocked = false;
    };
    EXPECT_EQ(kExitStopped, ReceiveCycle(fake));
    EXPECT_EQ(51, fake.reads);
}

TEST(StopMarker, IgnoredWhileReceivingThenTakenAsTheAcknowledgement)
{
    FakeReceiver fake;
    fake.hostAcknowledges = false;
    fake.passes = BlockPasses(kBlockSize);
    fake.onRead = [&](int read) {
        if (read == 100) fake.files["StopCommand.csv"];
    };
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_TRUE(fake.files.empty());
    EXPECT_TRUE(fake.Called("MoveFileA tempdata.csv ReceiveData.csv"));
}

// --- never publish a wrong block -----------------------------------------------

struct PublishFailure {
    const char *name;
    std::function<void(FakeReceiver &)> setUp;
    bool scratchLeft;
};

class PublishFails : public ::testing::TestWithParam<PublishFailure>
{
};

TEST_P(PublishFails, TakesTheFileFailurePathWithExit5)
{
    FakeReceiver fake;
    fake.passes = BlockPasses(kBlockSize);
    fake.files["tempdata.csv"].content = "a block of an earlier run\n";
    GetParam().setUp(fake);

    EXPECT_EQ(kExitFileFailed, ReceiveCycle(fake));

    const std::string status = fake.Content("ErrorMessage.csv");
    EXPECT_EQ((Numbers{"1", "2", "4", "5", "6", "1"}), StepNumbers(status));
    EXPECT_NE(StatusLines(status)[0].second, StatusLines(status)[5].second);
    EXPECT_TRUE(fake.Has("DataReady.csv"));
    EXPECT_EQ("", fake.Content("DataReady.csv"));
    EXPECT_EQ(GetParam().scratchLeft, fake.Has("tempdata.csv"));
    // Whatever ReceiveData.csv holds, it is not a block this run wrote.
    if (fake.Has("ReceiveData.csv")) EXPECT_EQ("someone else's\n", fake.Content("ReceiveData.csv"));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, PublishFails,
    ::testing::Values(PublishFailure{"ReceiveDataCreatedBySomeoneElse",
                                     [](FakeReceiver &f) {
                                         f.onRead = [&f](int read) {
                                             if (read == 200)
                                                 f.files["ReceiveData.csv"].content =
                                                     "someone else's\n";
                                         };
                                     },
                                     true},
                      PublishFailure{"ScratchFileCannotBeOpened",
                                     [](FakeReceiver &f) { f.openFails = {"tempdata.csv"}; }, true},
                      PublishFailure{"LineNotWritten",
                                     [](FakeReceiver &f) {
                                         f.writeFailsAt = {{"tempdata.csv", 349}};
                                     },
                                     true},
                      PublishFailure{"CloseLosesData",
                                     [](FakeReceiver &f) { f.closeFails = {"tempdata.csv"}; },
                                     true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PublishFails, TheEarlierRunsScratchFileIsNeverRenamed)
{
    FakeReceiver fake;
    fake.passes = BlockPasses(kBlockSize);
    fake.files["tempdata.csv"].content = "a block of an earlier run\n";
    fake.openFails = {"tempdata.csv"};
    EXPECT_EQ(kExitFileFailed, ReceiveCycle(fake));
    EXPECT_FALSE(fake.Called("MoveFileA tempdata.csv ReceiveData.csv"));
    EXPECT_EQ("a block of an earlier run\n", fake.Content("tempdata.csv"));
}

TEST(StaleFiles, OneThatCannotBeDeletedStaysAndTheCycleGoesOn)
{
    FakeReceiver fake;
    fake.files["DataReady.csv"].undeletable = true;
    fake.passes = BlockPasses(kBlockSize);
    // The leftover marker stays, so the host sees "ready" early; the status
    // file says whether the data is there.
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_TRUE(fake.Has("DataReady.csv"));
}

TEST(StatusFile, LostLinesChangeNothingElse)
{
    FakeReceiver fake;
    fake.openFails = {"ErrorMessage.csv"};
    fake.passes = BlockPasses(kBlockSize);
    EXPECT_EQ(kExitAcknowledged, ReceiveCycle(fake));
    EXPECT_FALSE(fake.filesWhenAcknowledged.count("ErrorMessage.csv"));
    EXPECT_EQ(LinesOf(fake.passes, kBlockSize),
              fake.filesWhenAcknowledged["ReceiveData.csv"].content);
}

} // namespace
} // namespace ostrel::testing
