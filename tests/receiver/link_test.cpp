// Start-up and shutdown of the link, through the whole cycle where the exit
// code and the untouched work folder are what the host application sees.
#include "fake_receiver.h"

namespace ostrel::testing
{
namespace
{

struct StartUpFailure {
    const char *name;
    std::function<void(FakeReceiver &)> setUp;
    int openResult;
    bool comPortCalled;
    bool portOpened; // SetPort stored a handle
};

class StartUpFails : public ::testing::TestWithParam<StartUpFailure>
{
};

TEST_P(StartUpFails, EndsWithExit3AndLeavesTheFolderAlone)
{
    const StartUpFailure &row = GetParam();
    FakeReceiver fake;
    fake.files["ReceiveData.csv"].content = "earlier\n";
    fake.files["StopCommand.csv"];
    row.setUp(fake);
    auto before = fake.files;

    EXPECT_EQ(kExitLinkFailed, ReceiveCycle(fake));

    EXPECT_EQ(before.size(), fake.files.size());
    EXPECT_EQ("earlier\n", fake.Content("ReceiveData.csv"));
    EXPECT_FALSE(fake.Called("GetCurrentDirectoryA"));
    EXPECT_EQ(row.comPortCalled, fake.Called("ComPort"));
    // SetPort is looked up only once ComPort has found the device.
    EXPECT_EQ(row.comPortCalled && row.openResult != kOpenNoDevicePort,
              fake.Called("GetProcAddress SetPort"));
    EXPECT_EQ(row.portOpened, fake.Called("CloseHandle"));
    EXPECT_EQ(row.openResult != kOpenNoLibrary, fake.Called("FreeLibrary"));
}

TEST_P(StartUpFails, OpenLinkReportsTheStepThatFailed)
{
    FakeReceiver fake;
    GetParam().setUp(fake);
    Link link;
    EXPECT_EQ(GetParam().openResult, OpenLink(fake, link));
    EXPECT_EQ(GetParam().portOpened, link.port == FakeReceiver::PortHandle());
    EXPECT_EQ(0, CloseLink(fake, link));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartUpFails,
    ::testing::Values(
        StartUpFailure{"NoLibrary", [](FakeReceiver &f) { f.libraryPresent = false; },
                       kOpenNoLibrary, false, false},
        StartUpFailure{"NoWindowsVer", [](FakeReceiver &f) { f.missingExports = {"WindowsVer"}; },
                       kOpenNoWindowsVer, false, false},
        StartUpFailure{"NoComPort", [](FakeReceiver &f) { f.missingExports = {"ComPort"}; },
                       kOpenNoComPort, false, false},
        StartUpFailure{"NoDevicePort", [](FakeReceiver &f) { f.comPortResult = 5; },
                       kOpenNoDevicePort, true, false},
        StartUpFailure{"NoSetPort", [](FakeReceiver &f) { f.missingExports = {"SetPort"}; },
                       kOpenNoSetPort, true, false},
        StartUpFailure{"PortNotOpened", [](FakeReceiver &f) { f.setPortResult = 1; },
                       kOpenPortFailed, true, false},
        StartUpFailure{"LineRefused", [](FakeReceiver &f) { f.setPortResult = 2; }, kOpenPortFailed,
                       true, false},
        StartUpFailure{"PurgeFailedWithPortOpen", [](FakeReceiver &f) { f.setPortResult = 3; },
                       kOpenPortFailed, true, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(OpenLink, BindsTheLibraryByNameAndOpensTheDevicesPortAt19200_8N1)
{
    FakeReceiver fake;
    fake.osFamily = 98;
    Link link;
    ASSERT_EQ(kOpenOk, OpenLink(fake, link));
    EXPECT_EQ("LoadLibraryA Vetrolink.dll", fake.calls.front());
    EXPECT_EQ(98, link.osFamily);
    EXPECT_EQ(0x0ABC, fake.comPortVendor);
    EXPECT_EQ(255, fake.comPortProduct);
    EXPECT_EQ(19200u, fake.setPortBaud);
    EXPECT_EQ(8, fake.setPortDataBits);
    EXPECT_EQ(0, fake.setPortParity);
    EXPECT_EQ(0, fake.setPortStopBits);
    EXPECT_EQ(FakeReceiver::PortHandle(), link.port);
}

TEST(OpenLink, OpensTheFirstPortOfTheList)
{
    const std::string longName(kPortListSize - 1, 'C'); // fills the buffer, no comma
    const std::pair<std::string, std::string> rows[] = {
        {"COM31,COM32,COM33,", "COM31"},
        {"COM31,", "COM31"},
        {"COM31", "COM31"},
        {longName, longName},
    };
    for (const auto &[list, expected] : rows) {
        FakeReceiver fake;
        fake.portList = list;
        Link link;
        EXPECT_EQ(kOpenOk, OpenLink(fake, link)) << list;
        EXPECT_EQ(expected, fake.portName) << list;
    }
}

TEST(CloseLink, KeepsTheLibraryWhenThePortWillNotClose)
{
    FakeReceiver fake;
    fake.closeHandleFails = true;
    Link link;
    ASSERT_EQ(kOpenOk, OpenLink(fake, link));
    EXPECT_EQ(1, CloseLink(fake, link));
    EXPECT_FALSE(fake.Called("FreeLibrary"));
}

TEST(CloseLink, ReportsAFailedFreeLibraryAfterClosingThePort)
{
    FakeReceiver fake;
    fake.freeLibraryFails = true;
    Link link;
    ASSERT_EQ(kOpenOk, OpenLink(fake, link));
    EXPECT_EQ(2, CloseLink(fake, link));
    EXPECT_TRUE(fake.Called("CloseHandle"));
}

} // namespace
} // namespace ostrel::testing
