#include <gtest/gtest.h>

#include "format_text.h"

// msvcrt.dll's formatter (Windows builds) writes no NUL when the text fills the
// buffer exactly and answers -1 when it is longer; FormatText ends the text
// with a NUL all the same and tells whether it fitted.
TEST(FormatText, AlwaysEndsWithANulAndTellsWhetherTheTextFitted)
{
    const std::string text = "ab12\x83\x41"; // with a code page 932 character: 7 bytes with the NUL
    for (std::size_t size : {8, 7, 6, 2, 1}) {
        SCOPED_TRACE(size);
        std::string buffer(10, '\xff');
        EXPECT_EQ(size >= 7, FormatText(buffer.data(), size, "%s%d%s", "ab", 12, "\x83\x41"));
        EXPECT_EQ((text.substr(0, size - 1) + '\0' + std::string(9, '\xff')).substr(0, 10), buffer);
    }
}
