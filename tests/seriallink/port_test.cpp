// The port operations against a fake of Windows that logs every call the
// library makes, with its arguments, and fails where a test tells it to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
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

// One line of the call log: the call's name and its arguments, numbers in hex.
template <typename... Args> std::string Call(const char *name, const Args &...args)
{
    std::ostringstream line;
    line << name << std::hex;
    ((line << ' ' << args), ...);
    return line.str();
}

// A COM port driver that reports `reported` as its configuration (as many
// bytes as it holds).
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

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, DWORD flags) const override
    {
        calls.push_back(Call("CreateFileA", path, access, shareMode, flags));
        return openFails ? INVALID_HANDLE_VALUE : kPortHandle;
    }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS *t) const override
    {
        calls.push_back(Call("SetCommTimeouts", t->ReadIntervalTimeout,
                             t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant,
                             t->WriteTotalTimeoutMultiplier, t->WriteTotalTimeoutConstant));
        return TRUE;
    }
    BOOL GetCommConfig(HANDLE, COMMCONFIG *config, DWORD *size) const override
    {
        calls.push_back(Call("GetCommConfig", *size));
        DWORD needed = static_cast<DWORD>(reported.size());
        bool fits = *size >= needed;
        if (fits) std::memcpy(config, reported.data(), needed);
        *size = needed;
        return fits;
    }
    BOOL SetCommConfig(HANDLE, COMMCONFIG *config, DWORD size) const override
    {
        calls.push_back(Call("SetCommConfig", size));
        // Reading all `size` bytes lets the sanitizers see an overlong size.
        const auto *bytes = reinterpret_cast<const unsigned char *>(config);
        applied.assign(bytes, bytes + size);
        return configAccepted;
    }
    BOOL PurgeComm(HANDLE, DWORD flags) const override
    {
        calls.push_back(Call("PurgeComm", flags));
        return purgeSucceeds;
    }
    BOOL ReadFile(HANDLE, LPVOID buffer, DWORD count, DWORD *transferred) const override
    {
        // Hands over as much as asked for: the sanitizers see a read longer
        // than the caller's one byte.
        *transferred = std::min<DWORD>(count, static_cast<DWORD>(waiting.size()));
        std::memcpy(buffer, waiting.data(), *transferred);
        waiting.erase(0, *transferred);
        return TRUE;
    }
    BOOL WriteFile(HANDLE, LPCVOID data, DWORD count, DWORD *transferred) const override
    {
        calls.push_back(Call("WriteFile", count));
        const auto *bytes = static_cast<const unsigned char *>(data);
        outgoing.assign(bytes, bytes + count);
        *transferred = count / 2; // a short write: the library must pass it on as is
        return writeSucceeds;
    }
    BOOL CloseHandle(HANDLE handle) const override
    {
        calls.push_back(Call("CloseHandle", handle));
        return TRUE;
    }

    std::vector<unsigned char> reported;
    bool openFails = false, configAccepted = true, purgeSucceeds = true, writeSucceeds = true;

    mutable std::string waiting; // bytes the device sent
    mutable std::vector<std::string> calls;
    mutable std::vector<unsigned char> applied, outgoing;
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
    int Open(FakePort &fake, const char *name = "COM20")
    {
        return GetParam().open(fake, 19200, 8, 0, 0, &handle, name);
    }
    std::string OpenCall(const char *path) const
    {
        return Call("CreateFileA", path, GENERIC_READ | GENERIC_WRITE, 0, GetParam().flags);
    }
    FakePort port;
    HANDLE handle = kCallersHandle;
};

TEST_P(OpenPort, OpensExclusivelyAndConfiguresInOrder)
{
    EXPECT_EQ(0, Open(port));
    EXPECT_EQ(kPortHandle, handle);
    const std::vector<std::string> calls = {
        OpenCall("\\\\.\\COM20"),
        Call("SetCommTimeouts", MAXDWORD, 0, 0, 0,
             0), // reads return at once; writes never time out
        Call("GetCommConfig", sizeof(COMMCONFIG)),
        Call("SetCommConfig", sizeof(COMMCONFIG)),
        Call("PurgeComm", PURGE_TXCLEAR | PURGE_RXCLEAR),
    };
    EXPECT_EQ(calls, port.calls);
}

// The record handed back is the reported one with the line's fields set;
// every other byte comes back as the driver reported it. Selectors for
// parity and stop bits outside 0 to 2 keep the port's setting.
TEST_P(OpenPort, SetsTheLineAndGivesEverythingElseBackAsReported)
{
    struct Case {
        int fill; // -1: distinct bytes
        DWORD baud;
        int dataBits, selector, parity, stopBits; // -1: as reported
    };
    const Case cases[] = {
        {0x00, 19200, 8, 0, NOPARITY, ONESTOPBIT},
        {0xff, 9600, 7, 1, EVENPARITY, ONE5STOPBITS},
        {-1, 19200, 8, 2, ODDPARITY, TWOSTOPBITS},
        {-1, 19200, 8, 3, -1, -1},
        {0xff, 19200, 8, -1, -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "reported bytes " << c.fill << ", selector " << c.selector);
        FakePort fresh;
        if (c.fill >= 0) std::fill(fresh.reported.begin(), fresh.reported.end(), c.fill);
        ASSERT_EQ(0, GetParam().open(fresh, c.baud, c.dataBits, c.selector, c.selector, &handle,
                                     "COM20"));

        COMMCONFIG want;
        std::memcpy(&want, fresh.reported.data(), sizeof want);
        DCB &d = want.dcb;
        d.BaudRate = c.baud;
        d.fParity = 1;
        d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = d.fTXContinueOnXoff = 0;
        d.fOutX = d.fInX = d.fNull = d.fAbortOnError = 0;
        d.fDtrControl = DTR_CONTROL_ENABLE;
        d.fRtsControl = RTS_CONTROL_ENABLE;
        d.XonLim = 1024;
        d.XoffLim = 512;
        d.ByteSize = static_cast<BYTE>(c.dataBits);
        if (c.parity >= 0) d.Parity = static_cast<BYTE>(c.parity);
        if (c.stopBits >= 0) d.StopBits = static_cast<BYTE>(c.stopBits);
        d.ErrorChar = 0;
        const auto *wantBytes = reinterpret_cast<const unsigned char *>(&want);
        EXPECT_EQ(std::vector<unsigned char>(wantBytes, wantBytes + sizeof want), fresh.applied);
    }
}

TEST_P(OpenPort, PortNamesUpToElevenCharactersFillThePath)
{
    EXPECT_EQ(0, Open(port, "COM12345678")); // 11 characters: 15 + NUL = 16 bytes
    EXPECT_EQ(OpenCall("\\\\.\\COM12345678"), port.calls.at(0));

    FakePort fresh;
    handle = kCallersHandle;
    EXPECT_EQ(1, Open(fresh, "COM123456789"));
    EXPECT_EQ(std::vector<std::string>{}, fresh.calls);
    EXPECT_EQ(kCallersHandle, handle);
}

TEST_P(OpenPort, FailuresAndWhatTheCallerIsLeftWith)
{
    struct Row {
        const char *what;
        void (*inject)(FakePort &);
        int result;
        bool handleStored, closedByLibrary;
    };
    const Row rows[] = {
        // Wine lets a second exclusive open succeed, so only here is a port
        // held by another program seen: the open fails.
        {"no such port, or held by another program", [](FakePort &p) { p.openFails = true; }, 1,
         false, false},
        {"configuration refused", [](FakePort &p) { p.configAccepted = false; }, 2, false, true},
        {"configuration larger than the probe believes",
         [](FakePort &p) { p.reported.resize(4097); }, 2, false, true},
        {"purge fails", [](FakePort &p) { p.purgeSucceeds = false; }, 3, true, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FakePort fresh;
        row.inject(fresh);
        handle = kCallersHandle;
        EXPECT_EQ(row.result, Open(fresh));
        EXPECT_EQ(row.handleStored ? kPortHandle : kCallersHandle, handle);
        EXPECT_EQ(row.closedByLibrary, fresh.calls.back() == Call("CloseHandle", kPortHandle));
    }
}

TEST_P(OpenPort, ADriverWithProviderDataIsAskedAgainWithItsSize)
{
    const size_t larger = 4096; // the largest record ComPort's probe lists
    for (size_t i = sizeof(COMMCONFIG); i < larger; ++i)
        port.reported.push_back(0xA0 + i % 16);

    ASSERT_EQ(0, Open(port));
    EXPECT_EQ(Call("GetCommConfig", sizeof(COMMCONFIG)), port.calls.at(2));
    EXPECT_EQ(Call("GetCommConfig", larger), port.calls.at(3));
    ASSERT_EQ(larger, port.applied.size());
    EXPECT_TRUE(std::equal(port.reported.begin() + sizeof(COMMCONFIG), port.reported.end(),
                           port.applied.begin() + sizeof(COMMCONFIG)))
        << "provider data changed";
    EXPECT_EQ(19200u, reinterpret_cast<const COMMCONFIG *>(port.applied.data())->dcb.BaudRate);
}

INSTANTIATE_TEST_SUITE_P(BothOpeners, OpenPort,
                         ::testing::Values(Opener{"SetPort", SetPort, 0},
                                           Opener{"SetPortOver", SetPortOver,
                                                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ReadData, OneByteAtATime)
{
    FakePort port;
    port.waiting = "\x11\x22";
    unsigned char byte = 0;
    EXPECT_EQ(0, ReadData(port, kPortHandle, &byte));
    EXPECT_EQ(0x11, byte);
    EXPECT_EQ(0, ReadData(port, kPortHandle, &byte));
    EXPECT_EQ(0x22, byte);
}

TEST(WriteData, AtMostSixtyFourBytesArePassedOn)
{
    for (DWORD count : {0u, 64u, 65u, MAXDWORD}) {
        FakePort port;
        std::vector<unsigned char> data(count <= 64 ? count : 1, 0x5A);
        DWORD written = 0xDEAD;
        if (count <= 64) {
            EXPECT_EQ(0, WriteData(port, kPortHandle, data.data(), count, &written));
            EXPECT_EQ(data, port.outgoing);
            EXPECT_EQ(count / 2, written) << "the count Windows reported";
        } else {
            EXPECT_EQ(1, WriteData(port, kPortHandle, data.data(), count, &written));
            EXPECT_EQ(std::vector<std::string>{}, port.calls) << count << " bytes";
            EXPECT_EQ(0xDEADu, written);
        }
    }
    FakePort failing;
    failing.writeSucceeds = false;
    DWORD written = 0;
    EXPECT_EQ(2, WriteData(failing, kPortHandle, reinterpret_cast<const unsigned char *>("x"), 1,
                           &written));
}

TEST(ClearBuffer, ModesPurgeTheirBuffers)
{
    const struct {
        int mode, result;
        std::vector<std::string> calls;
    } rows[] = {
        {0, 0, {Call("PurgeComm", PURGE_TXCLEAR | PURGE_RXCLEAR)}},
        {1, 0, {Call("PurgeComm", PURGE_RXCLEAR)}},
        {2, 0, {Call("PurgeComm", PURGE_TXCLEAR)}},
        {3, 2, {}},
        {-1, 2, {}},
    };
    for (const auto &row : rows) {
        FakePort port;
        EXPECT_EQ(row.result, ClearBuffer(port, kPortHandle, row.mode)) << "mode " << row.mode;
        EXPECT_EQ(row.calls, port.calls) << "mode " << row.mode;
    }
    FakePort failing;
    failing.purgeSucceeds = false;
    EXPECT_EQ(1, ClearBuffer(failing, kPortHandle, 0));
}

} // namespace
} // namespace vetrolink::testing
