// The argument rule and the comparison rule, byte for byte, under the
// sanitizers; the end-to-end tests run the cases a user meets.
#include <gtest/gtest.h>

#include <string>

#include "text_rules.h"

namespace
{

using wendra::ArgumentOf;
using wendra::NamesEqual;

bool NoDoubleByte(unsigned char) { return false; }
// A code page in which 0x81 leads and any byte may follow.
bool Lead81(unsigned char byte) { return byte == 0x81; }

struct ArgumentCase {
    const char *what;
    const char *commandLine;
    wendra::LeadByteTest isLeadByte;
    const char *argument;
};

const ArgumentCase kArgumentCases[] = {
    {"quoted program path with a blank", "\"C:\\a b\\Wendra.exe\" Book.xlsx", NoDoubleByte,
     "Book.xlsx"},
    {"inner and trailing blanks kept", "Wendra.exe   Book 1.xlsx ", NoDoubleByte, "Book 1.xlsx "},
    {"empty command line", "", NoDoubleByte, ""},
    {"control bytes separate", "Wendra.exe\x01\x1f\x20\tBook", NoDoubleByte, "Book"},
    {"quote inside the first token", "We\"x y\"ndra Book", NoDoubleByte, "Book"},
    {"unclosed quote swallows the line", "\"Wendra.exe Book", NoDoubleByte, ""},
    {"0xA0 is no blank", "Wendra.exe \xA0x", NoDoubleByte, "\xA0x"},
    {"a trail byte never ends the token", "W\x81 x Book", Lead81, "Book"},
    {"the same bytes without double-byte characters", "W\x81 x Book", NoDoubleByte, "x Book"},
    {"a lead byte at the very end", "Wendra\x81", Lead81, ""},
};

TEST(ArgumentRule, TakesTheRestAfterTheProgramName)
{
    for (const ArgumentCase &c : kArgumentCases) {
        std::string line = c.commandLine; // a copy of its own, so reads past it are seen
        EXPECT_EQ(std::string(c.argument), ArgumentOf(line.c_str(), c.isLeadByte)) << c.what;
    }
}

struct ComparisonCase {
    const char *left;
    const char *right;
    bool equal;
};

const ComparisonCase kComparisonCases[] = {
    {"AZaz", "azAZ", true},
    {"", "", true},
    {"Book", "Book ", false},
    {"Book", "Boo", false},
    {"a", "", false},
    {"@[`{", "@[`{", true},
    {"@", "`", false}, // 0x40 and 0x60: only A to Z are folded
    {"[", "{", false},
    {"\x83\x41", "\x83\x61", true},  // also the second byte of a double-byte character
    {"\x82\x60", "\x82\x80", false}, // full-width A and a: not folded
};

TEST(ComparisonRule, FoldsOnlyTheLettersAToZ)
{
    for (const ComparisonCase &c : kComparisonCases) {
        EXPECT_EQ(c.equal, NamesEqual(c.left, c.right)) << c.left << " / " << c.right;
        EXPECT_EQ(c.equal, NamesEqual(c.right, c.left)) << c.right << " / " << c.left;
    }
}

} // namespace
