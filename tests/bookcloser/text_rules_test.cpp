// The argument rule in a code page whose second bytes may be blanks, which Wine has not, under
// the sanitizers, which see a read past the end of the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text_rules.h"

// In a buffer of its own exact size; 0x81 leads a double-byte character.
template <size_t N> static std::string ArgumentOf(const char (&commandLine)[N])
{
    std::vector<char> line(commandLine, commandLine + N);
    return wendra::ArgumentOf(line.data(), [](unsigned char byte) { return byte == 0x81; });
}

TEST(ArgumentRule, ASecondByteNeverEndsTheProgramName)
{
    EXPECT_EQ("Book", ArgumentOf("W\x81 x Book"));
    EXPECT_EQ("", ArgumentOf("Wendra\x81")); // a lead byte at the very end
}
