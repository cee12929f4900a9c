// The port operations for real, on pty-backed COM ports under Wine: COM20
// is a silent device held open by the test harness, COM29 has no device.
// What crosses the line is seen from the device's side in port_device_test.py.
#include <gtest/gtest.h>

#include <cstring>

#include "Vetrolink.h"

namespace
{

const char kPort[] = "COM20";

HANDLE const kUntouched = reinterpret_cast<HANDLE>(0x7E57);

class OpenPort : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (port != kUntouched) CloseHandle(port);
    }
    HANDLE port = kUntouched;
};

TEST_F(OpenPort, SetsTheLineTheDeviceSpeaks)
{
    ASSERT_EQ(0, SetPort(19200, 8, 0, 0, &port, kPort));
    ASSERT_NE(kUntouched, port);
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb)) << GetLastError();
    // A pty does not report fParity, XonLim or XoffLim back; the native
    // tests check those in the record handed to Windows.
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
}

TEST_F(OpenPort, NamesWithoutADeviceOrTooLongAreNotOpened)
{
    for (const char *name : {"COM29", "COM200000000", ""}) {
        EXPECT_EQ(1, SetPort(19200, 8, 0, 0, &port, name)) << name;
        EXPECT_EQ(1, SetPortOver(19200, 8, 0, 0, &port, name)) << name;
        EXPECT_EQ(kUntouched, port) << name;
    }
}

TEST_F(OpenPort, ReadsNothingAtOnceClearsByModeAndClosesOnce)
{
    ASSERT_EQ(0, SetPort(19200, 8, 0, 0, &port, kPort));
    for (unsigned char fill : {0x00, 0xff}) {
        unsigned char byte = fill;
        EXPECT_EQ(1, ReadData(port, &byte)); // returns at once: the test would hang otherwise
        EXPECT_EQ(fill, byte);
    }
    for (int mode : {0, 1, 2})
        EXPECT_EQ(0, ClearBuffer(port, mode)) << "mode " << mode;
    for (int mode : {3, -1})
        EXPECT_EQ(2, ClearBuffer(port, mode)) << "mode " << mode;
    EXPECT_EQ(0, CloseCom(port));
    EXPECT_EQ(1, CloseCom(port));
    port = kUntouched;
}

// ReadData and WriteData pass no OVERLAPPED record; on a handle opened for
// overlapped I/O Wine fails both at once (last error 87), transferring
// nothing. Such a handle takes its caller's own overlapped I/O.
TEST_F(OpenPort, OverlappedHandleNeedsTheCallersOwnIo)
{
    ASSERT_EQ(0, SetPortOver(19200, 8, 0, 0, &port, kPort));
    unsigned char byte = 0x3C;
    EXPECT_EQ(2, ReadData(port, &byte));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(0x3C, byte);
    const unsigned char data[3] = {1, 2, 3};
    DWORD written = 0;
    EXPECT_EQ(2, WriteData(port, data, sizeof data, &written));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, overlapped.hEvent);
    if (!WriteFile(port, data, sizeof data, nullptr, &overlapped)) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    }
    EXPECT_TRUE(GetOverlappedResult(port, &overlapped, &written, TRUE));
    EXPECT_EQ(sizeof data, written);
    CloseHandle(overlapped.hEvent);
}

} // namespace
