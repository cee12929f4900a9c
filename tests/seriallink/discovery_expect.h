// What ComPort's caller finds in its buffers, checked alike for the
// in-memory registry and for the real one under Wine.
#ifndef VETROLINK_TESTS_DISCOVERY_EXPECT_H
#define VETROLINK_TESTS_DISCOVERY_EXPECT_H

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "discovery_expected.h" // the messages, encoded by Python's cp932 codec

namespace discoverytest
{

constexpr int kUnchanged = INT_MIN; // the count keeps the bytes it was pre-filled with

inline std::string Text(const std::string &text) { return text + '\0'; }

// One call on buffers pre-filled with `fill`: the result, the text at the
// start of `bytes` (NUL included), every byte after it still `fill`, the count.
inline void ExpectAnswer(unsigned char fill, int result, const std::string &bytes, int count,
                         int wantResult, const std::string &wantText, int wantCount)
{
    SCOPED_TRACE(::testing::Message() << "buffers pre-filled with " << int{fill});
    EXPECT_EQ(wantResult, result);
    ASSERT_LE(wantText.size(), bytes.size());
    EXPECT_EQ(wantText, bytes.substr(0, wantText.size()));
    EXPECT_EQ(std::string(bytes.size() - wantText.size(), static_cast<char>(fill)),
              bytes.substr(wantText.size()))
        << "bytes after the text were written";
    int unchanged;
    std::memset(&unchanged, fill, sizeof unchanged);
    EXPECT_EQ(wantCount == kUnchanged ? unchanged : wantCount, count);
}

} // namespace discoverytest

#endif
