#include <gtest/gtest.h>

#include <cstring>

#include "format_text.h"

// "ab12" and a code page 932 character: 7 bytes with the NUL. msvcrt.dll's
// formatter writes no NUL when the text fills the buffer exactly and answers
// -1 when it is longer; FormatText ends the buffer with a NUL all the same.
TEST(FormatText, AlwaysEndsWithANulAndTellsWhetherTheTextFitted)
{
    const struct {
        std::size_t size;
        bool fits;
        const char *kept;
    } rows[] = {{8, true, "ab12\x83\x41"},
                {7, true, "ab12\x83\x41"},
                {6, false, "ab12\x83"},
                {2, false, "a"},
                {1, false, ""}};
    for (const auto &row : rows) {
        for (unsigned char fill : {0x00, 0xff}) {
            char buffer[10];
            std::memset(buffer, fill, sizeof buffer);
            EXPECT_EQ(row.fits, FormatText(buffer, row.size, "%s%d%s", "ab", 12, "\x83\x41"));
            EXPECT_EQ(0, std::memcmp(buffer, row.kept, std::strlen(row.kept) + 1)) << row.size;
            for (std::size_t i = row.size; i < sizeof buffer; ++i)
                EXPECT_EQ(fill, static_cast<unsigned char>(buffer[i])) << row.size;
        }
    }
}
