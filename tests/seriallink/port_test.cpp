// The port operations against a fake of Windows that records what the
// library hands it and fails where a test tells it to.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fake_win32.h"
#include "logic.h"

namespace vetrolink::testing
{
namespace
{

HANDLE const kPortHandle = reinterpret_cast<HANDLE>(0x5150);
HANDLE const kCallersHandle = reinterpret_cast<HANDLE>(0xC0FFEE);

// A COM port driver: reports `reported` (of `configSize` bytes) as its
// configuration and records every call.
class FakePort : public FakeWin32
{
public:
    FakePort()
    {
        // Every byte distinct and none of them a value the library writes,
        // so a field that should come back as reported is seen to.
        reported.resize(sizeof(COMMCONFIG));
        for (size_t i = 0; i < reported.size(); ++i)
            reported[i] = static_cast<unsigned char>(0x5B + 37 * i);
    }

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                       DWORD flagsAndAttributes) const override
    {
        calls.push_back("CreateFileA");
        openedPath = path;
        openAccess = access;
        openShareMode = shareMode;
        openFlags = flagsAndAttributes;
        if (portInUse || !openSucceeds) return INVALID_HANDLE_VALUE;
        portInUse = exclusive;
        return kPortHandle;
    }
    BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS *t) const override
    {
        calls.push_back("SetCommTimeouts");
        EXPECT_EQ(kPortHandle, port);
        timeouts = *t;
        return TRUE;
    }
    BOOL GetCommConfig(HANDLE port, COMMCONFIG *config, DWORD *size) const override
    {
        calls.push_back("GetCommConfig");
        EXPECT_EQ(kPortHandle, port);
        askedSizes.push_back(*size);
        DWORD needed = static_cast<DWORD>(reported.size());
        if (*size < needed) {
            *size = needed;
            return FALSE;
        }
        std::memcpy(config, reported.data(), needed);
        *size = needed;
        return TRUE;
    }
    BOOL SetCommConfig(HANDLE port, COMMCONFIG *config, DWORD size) const override
    {
        calls.push_back("SetCommConfig");
        EXPECT_EQ(kPortHandle, port);
        // Reading all `size` bytes lets the sanitizers see an overlong size.
        const auto *bytes = reinterpret_cast<const unsigned char *>(config);
        applied.assign(bytes, bytes + size);
        return configAccepted;
    }
    BOOL PurgeComm(HANDLE port, DWORD flags) const override
    {
        calls.push_back("PurgeComm");
        EXPECT_EQ(kPortHandle, port);
        purges.push_back(flags);
        return purgeSucceeds;
    }
    BOOL ReadFile(HANDLE port, LPVOID buffer, DWORD count, DWORD *transferred) const override
    {
        calls.push_back("ReadFile");
        EXPECT_EQ(kPortHandle, port);
        EXPECT_EQ(1u, count);
        if (!incoming.empty()) {
            *static_cast<unsigned char *>(buffer) = incoming.front();
            incoming.erase(incoming.begin());
            *transferred = 1;
        } else {
            *transferred = 0;
        }
        return ioSucceeds;
    }
    BOOL WriteFile(HANDLE port, LPCVOID data, DWORD count, DWORD *transferred) const override
    {
        calls.push_back("WriteFile");
        EXPECT_EQ(kPortHandle, port);
        const auto *bytes = static_cast<const unsigned char *>(data);
        outgoing.insert(outgoing.end(), bytes, bytes + count);
        *transferred = count / 2; // a short write: the library must pass it on as is
        return ioSucceeds;
    }
    BOOL CloseHandle(HANDLE handle) const override
    {
        calls.push_back("CloseHandle");
        closed.push_back(handle);
        portInUse = false;
        return closeSucceeds;
    }

    const COMMCONFIG &Reported() const
    {
        return *reinterpret_cast<const COMMCONFIG *>(reported.data());
    }
    const COMMCONFIG &Applied() const
    {
        EXPECT_GE(applied.size(), sizeof(COMMCONFIG));
        applied.resize(std::max(applied.size(), sizeof(COMMCONFIG)));
        return *reinterpret_cast<const COMMCONFIG *>(applied.data());
    }

    // What the test sets up
    std::vector<unsigned char> reported;
    bool openSucceeds = true;
    bool exclusive = false; // a second open fails until the first is closed
    bool configAccepted = true;
    bool purgeSucceeds = true;
    bool ioSucceeds = true;
    bool closeSucceeds = true;
    mutable std::vector<unsigned char> incoming;

    // What the library did
    mutable std::vector<std::string> calls;
    mutable std::string openedPath;
    mutable DWORD openAccess = 0, openShareMode = ~0u, openFlags = ~0u;
    mutable COMMTIMEOUTS timeouts{};
    mutable std::vector<DWORD> askedSizes;
    mutable std::vector<unsigned char> applied;
    mutable std::vector<DWORD> purges;
    mutable std::vector<HANDLE> closed;
    mutable std::vector<unsigned char> outgoing;
    mutable bool portInUse = false;
};

using OpenFunction = int (*)(const Win32Calls &, DWORD, int, int, int, HANDLE *, const char *);

struct Opener {
    const char *name;
    OpenFunction open;
    DWORD flags;
};

void PrintTo(const Opener &opener, std::ostream *os) { *os << opener.name; }

// Everything about opening holds for both functions; they differ only in
// the flags of the open.
class OpenPort : public ::testing::TestWithParam<Opener>
{
protected:
    int Open(const char *name = "COM20", DWORD baud = 19200, int dataBits = 8, int parity = 0,
             int stopBits = 0)
    {
        return GetParam().open(port, baud, dataBits, parity, stopBits, &handle, name);
    }
    FakePort port;
    HANDLE handle = kCallersHandle;
};

TEST_P(OpenPort, OpensExclusivelyAndConfiguresInOrder)
{
    EXPECT_EQ(0, Open());
    EXPECT_EQ("\\\\.\\COM20", port.openedPath);
    EXPECT_EQ(GENERIC_READ | GENERIC_WRITE, port.openAccess);
    EXPECT_EQ(0u, port.openShareMode);
    EXPECT_EQ(GetParam().flags, port.openFlags);
    EXPECT_EQ((std::vector<std::string>{"CreateFileA", "SetCommTimeouts", "GetCommConfig",
                                        "SetCommConfig", "PurgeComm"}),
              port.calls);
    EXPECT_EQ(std::vector<DWORD>{PURGE_TXCLEAR | PURGE_RXCLEAR}, port.purges);
    EXPECT_EQ(kPortHandle, handle);
    EXPECT_TRUE(port.closed.empty());
}

TEST_P(OpenPort, ReadsReturnAtOnceAndWritesHaveNoTimeLimit)
{
    ASSERT_EQ(0, Open());
    EXPECT_EQ(MAXDWORD, port.timeouts.ReadIntervalTimeout);
    EXPECT_EQ(0u, port.timeouts.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(0u, port.timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(0u, port.timeouts.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(0u, port.timeouts.WriteTotalTimeoutConstant);
}

TEST_P(OpenPort, SetsTheLineAndGivesEverythingElseBackAsReported)
{
    // Both extremes of the flag bits, then distinct bytes throughout.
    for (int fill : {0x00, 0xff, -1}) {
        FakePort fresh;
        if (fill >= 0) std::fill(fresh.reported.begin(), fresh.reported.end(), fill);
        HANDLE h = kCallersHandle;
        ASSERT_EQ(0, GetParam().open(fresh, 19200, 8, 0, 0, &h, "COM20"));
        ASSERT_EQ(sizeof(COMMCONFIG), fresh.applied.size());
        const COMMCONFIG &in = fresh.Reported();
        const COMMCONFIG &out = fresh.Applied();
        SCOPED_TRACE(::testing::Message() << "reported bytes " << fill);

        EXPECT_EQ(in.dwSize, out.dwSize);
        EXPECT_EQ(in.wVersion, out.wVersion);
        EXPECT_EQ(in.wReserved, out.wReserved);
        EXPECT_EQ(in.dwProviderSubType, out.dwProviderSubType);
        EXPECT_EQ(in.dwProviderOffset, out.dwProviderOffset);
        EXPECT_EQ(in.dwProviderSize, out.dwProviderSize);
        EXPECT_EQ(in.wcProviderData[0], out.wcProviderData[0]);

        const DCB &a = in.dcb, &b = out.dcb;
        EXPECT_EQ(a.DCBlength, b.DCBlength);
        EXPECT_EQ(19200u, b.BaudRate);
        EXPECT_EQ(a.fBinary, b.fBinary);
        EXPECT_EQ(1u, b.fParity);
        EXPECT_EQ(0u, b.fOutxCtsFlow);
        EXPECT_EQ(0u, b.fOutxDsrFlow);
        EXPECT_EQ(unsigned(DTR_CONTROL_ENABLE), b.fDtrControl);
        EXPECT_EQ(0u, b.fDsrSensitivity);
        EXPECT_EQ(0u, b.fTXContinueOnXoff);
        EXPECT_EQ(0u, b.fOutX);
        EXPECT_EQ(0u, b.fInX);
        EXPECT_EQ(a.fErrorChar, b.fErrorChar);
        EXPECT_EQ(0u, b.fNull);
        EXPECT_EQ(unsigned(RTS_CONTROL_ENABLE), b.fRtsControl);
        EXPECT_EQ(0u, b.fAbortOnError);
        EXPECT_EQ(a.fDummy2, b.fDummy2);
        EXPECT_EQ(a.wReserved, b.wReserved);
        EXPECT_EQ(1024, b.XonLim);
        EXPECT_EQ(512, b.XoffLim);
        EXPECT_EQ(8, b.ByteSize);
        EXPECT_EQ(NOPARITY, b.Parity);
        EXPECT_EQ(ONESTOPBIT, b.StopBits);
        EXPECT_EQ(a.XonChar, b.XonChar);
        EXPECT_EQ(a.XoffChar, b.XoffChar);
        EXPECT_EQ(0, b.ErrorChar);
        EXPECT_EQ(a.EofChar, b.EofChar);
        EXPECT_EQ(a.EvtChar, b.EvtChar);
        EXPECT_EQ(a.wReserved1, b.wReserved1);
    }
}

TEST_P(OpenPort, PassesBaudRateAndTheLowByteOfTheDataBits)
{
    ASSERT_EQ(0, Open("COM20", 123457, 0x307));
    EXPECT_EQ(123457u, port.Applied().dcb.BaudRate);
    EXPECT_EQ(7, port.Applied().dcb.ByteSize);
}

struct SelectorRow {
    int selector;
    int parity;   // -1: as reported
    int stopBits; // -1: as reported
};

TEST_P(OpenPort, ParityAndStopBitSelectors)
{
    const SelectorRow rows[] = {
        {0, NOPARITY, ONESTOPBIT},
        {1, EVENPARITY, ONE5STOPBITS},
        {2, ODDPARITY, TWOSTOPBITS},
        {3, -1, -1},
        {-1, -1, -1},
        {INT_MAX, -1, -1},
    };
    for (const SelectorRow &row : rows) {
        FakePort fresh;
        HANDLE h = kCallersHandle;
        ASSERT_EQ(0, GetParam().open(fresh, 19200, 8, row.selector, row.selector, &h, "COM20"));
        const DCB &reported = fresh.Reported().dcb;
        const DCB &applied = fresh.Applied().dcb;
        EXPECT_EQ(row.parity < 0 ? reported.Parity : row.parity, applied.Parity)
            << "parity selector " << row.selector;
        EXPECT_EQ(row.stopBits < 0 ? reported.StopBits : row.stopBits, applied.StopBits)
            << "stop-bit selector " << row.selector;
    }
}

TEST_P(OpenPort, PortNamesUpToElevenCharactersFillThePath)
{
    EXPECT_EQ(0, Open("COM12345678")); // 11 characters: 15 + NUL = 16 bytes
    EXPECT_EQ("\\\\.\\COM12345678", port.openedPath);

    FakePort fresh;
    HANDLE h = kCallersHandle;
    EXPECT_EQ(1, GetParam().open(fresh, 19200, 8, 0, 0, &h, "COM123456789"));
    EXPECT_TRUE(fresh.calls.empty()) << "opened " << fresh.openedPath;
    EXPECT_EQ(kCallersHandle, h);
}

TEST_P(OpenPort, FailuresAndWhatTheCallerIsLeftWith)
{
    struct Row {
        const char *what;
        void (*inject)(FakePort &);
        int result;
        bool handleStored;
        bool closedByLibrary;
    };
    const Row rows[] = {
        {"open fails", [](FakePort &p) { p.openSucceeds = false; }, 1, false, false},
        {"configuration refused", [](FakePort &p) { p.configAccepted = false; }, 2, false, true},
        {"purge fails", [](FakePort &p) { p.purgeSucceeds = false; }, 3, true, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FakePort fresh;
        row.inject(fresh);
        HANDLE h = kCallersHandle;
        EXPECT_EQ(row.result, GetParam().open(fresh, 19200, 8, 0, 0, &h, "COM20"));
        EXPECT_EQ(row.handleStored ? kPortHandle : kCallersHandle, h);
        EXPECT_EQ(row.closedByLibrary ? std::vector<HANDLE>{kPortHandle} : std::vector<HANDLE>{},
                  fresh.closed);
    }
}

TEST_P(OpenPort, APortHeldByAnotherProgramCannotBeOpened)
{
    port.exclusive = true;
    ASSERT_EQ(0, Open());
    HANDLE second = kCallersHandle;
    EXPECT_EQ(1, GetParam().open(port, 19200, 8, 0, 0, &second, "COM20"));
    EXPECT_EQ(kCallersHandle, second);

    // A port whose configuration was refused is free again at once.
    port.closed.clear();
    port.portInUse = false;
    port.configAccepted = false;
    EXPECT_EQ(2, Open());
    port.configAccepted = true;
    EXPECT_EQ(0, Open());
}

TEST_P(OpenPort, ADriverWithProviderDataIsAskedAgainWithItsSize)
{
    const size_t larger = sizeof(COMMCONFIG) + 20;
    for (size_t i = sizeof(COMMCONFIG); i < larger; ++i)
        port.reported.push_back(0xA0 + i % 16);
    std::vector<unsigned char> withProvider = port.reported;

    ASSERT_EQ(0, Open());
    EXPECT_EQ((std::vector<DWORD>{DWORD(sizeof(COMMCONFIG)), DWORD(larger)}), port.askedSizes);
    ASSERT_EQ(larger, port.applied.size());
    EXPECT_TRUE(std::equal(withProvider.begin() + sizeof(COMMCONFIG), withProvider.end(),
                           port.applied.begin() + sizeof(COMMCONFIG)))
        << "provider data changed";
    EXPECT_EQ(19200u, port.Applied().dcb.BaudRate);
}

TEST_P(OpenPort, AConfigurationTooLargeToHoldIsNotApplied)
{
    port.reported.resize(64 * 1024);
    EXPECT_EQ(2, Open());
    EXPECT_EQ(std::vector<DWORD>{DWORD(sizeof(COMMCONFIG))}, port.askedSizes);
    EXPECT_TRUE(port.applied.empty());
    EXPECT_EQ(std::vector<HANDLE>{kPortHandle}, port.closed);
    EXPECT_EQ(kCallersHandle, handle);
}

INSTANTIATE_TEST_SUITE_P(BothOpeners, OpenPort,
                         ::testing::Values(Opener{"SetPort", SetPort, 0},
                                           Opener{"SetPortOver", SetPortOver,
                                                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ReadData, OneByteNothingOrFailure)
{
    for (unsigned char fill : {0x00, 0xff}) {
        FakePort port;
        port.incoming = {0x11};
        unsigned char byte = fill;
        EXPECT_EQ(0, ReadData(port, kPortHandle, &byte));
        EXPECT_EQ(0x11, byte);

        byte = fill;
        EXPECT_EQ(1, ReadData(port, kPortHandle, &byte));
        EXPECT_EQ(fill, byte) << "nothing was waiting";

        port.ioSucceeds = false;
        EXPECT_EQ(2, ReadData(port, kPortHandle, &byte));
    }
}

TEST(WriteData, AtMostSixtyFourBytesArePassedOn)
{
    struct Row {
        DWORD count;
        int result;
    };
    for (const Row &row : {Row{0, 0}, Row{1, 0}, Row{64, 0}, Row{65, 1}, Row{MAXDWORD, 1}}) {
        FakePort port;
        std::vector<unsigned char> data(row.count <= 65 ? row.count : 1, 0x5A);
        DWORD written = 0xDEAD;
        EXPECT_EQ(row.result, WriteData(port, kPortHandle, data.data(), row.count, &written))
            << row.count << " bytes";
        if (row.result == 0) {
            EXPECT_EQ(data, port.outgoing);
            EXPECT_EQ(row.count / 2, written) << "the count Windows reported";
        } else {
            EXPECT_TRUE(port.calls.empty()) << row.count << " bytes";
            EXPECT_EQ(0xDEADu, written);
        }
    }
    FakePort failing;
    failing.ioSucceeds = false;
    const unsigned char one = 1;
    DWORD written = 0;
    EXPECT_EQ(2, WriteData(failing, kPortHandle, &one, 1, &written));
}

TEST(ClearBuffer, ModesPurgeTheirBuffers)
{
    struct Row {
        int mode;
        int result;
        std::vector<DWORD> purges;
    };
    const Row rows[] = {
        {0, 0, {PURGE_TXCLEAR | PURGE_RXCLEAR}},
        {1, 0, {PURGE_RXCLEAR}},
        {2, 0, {PURGE_TXCLEAR}},
        {3, 2, {}},
        {-1, 2, {}},
        {INT_MIN, 2, {}},
    };
    for (const Row &row : rows) {
        FakePort port;
        EXPECT_EQ(row.result, ClearBuffer(port, kPortHandle, row.mode)) << "mode " << row.mode;
        EXPECT_EQ(row.purges, port.purges) << "mode " << row.mode;
    }
    FakePort failing;
    failing.purgeSucceeds = false;
    EXPECT_EQ(1, ClearBuffer(failing, kPortHandle, 0));
}

TEST(CloseCom, ReportsWhetherTheHandleClosed)
{
    FakePort port;
    EXPECT_EQ(0, CloseCom(port, kPortHandle));
    port.closeSucceeds = false;
    EXPECT_EQ(1, CloseCom(port, kPortHandle));
    EXPECT_EQ((std::vector<HANDLE>{kPortHandle, kPortHandle}), port.closed);
}

} // namespace
} // namespace vetrolink::testing
