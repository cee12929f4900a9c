#include "discovery_wine_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace discoverytest
{

ComPortRun RunComPort(const char *mode, int vendorId, unsigned char fill, const char *probe)
{
    char args[64];
    std::snprintf(args, sizeof args, "%d %d %d", vendorId, kProduct, fill);
    const std::string path = winetest::ProgramDir() + "\\" + probe;
    winetest::RunResult raw = mode ? winetest::RunInWindowsMode(path, mode, args)
                                   : winetest::Run("\"" + path + "\" " + args);
    ComPortRun run;
    run.output = raw.output;
    char hex[2 * 116 + 1] = "";
    if (raw.exitCode != 0 ||
        std::sscanf(raw.output.c_str(), "result=%d count=%d bytes=%232s", &run.result, &run.count,
                    hex) != 3 ||
        std::strlen(hex) != 2 * 116)
        return run;
    for (size_t i = 0; i < 116; ++i) {
        unsigned byte = 0;
        std::sscanf(hex + 2 * i, "%2x", &byte);
        run.bytes.push_back(static_cast<char>(byte));
    }
    run.ran = true;
    return run;
}

void ExpectComPort(const ComPortRun &run, unsigned char fill, int result, const std::string &text,
                   int count)
{
    SCOPED_TRACE(::testing::Message() << "buffers pre-filled with " << int{fill});
    ASSERT_TRUE(run.ran) << run.output;
    EXPECT_EQ(result, run.result);
    EXPECT_EQ(text, run.bytes.substr(0, text.size()));
    EXPECT_EQ(std::string(run.bytes.size() - text.size(), static_cast<char>(fill)),
              run.bytes.substr(text.size()))
        << "bytes after the text were written";
    int unchanged;
    std::memset(&unchanged, fill, sizeof unchanged);
    EXPECT_EQ(count == kUnchanged ? unchanged : count, run.count);
}

void ExpectComPortEitherFill(const char *mode, int vendorId, int result, const std::string &text,
                             int count)
{
    for (unsigned char fill : {0x00, 0xff})
        ExpectComPort(RunComPort(mode, vendorId, fill), fill, result, text, count);
}

std::string Text(const std::string &text) { return text + '\0'; }

std::string NtEnumKey(int vendorId)
{
    char path[80];
    std::snprintf(path, sizeof path, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_%04X&PID_%04X",
                  vendorId, kProduct);
    return path;
}

} // namespace discoverytest
