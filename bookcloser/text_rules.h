// The closer's two text rules, free of Windows so that they also run natively.
#ifndef WENDRA_TEXT_RULES_H
#define WENDRA_TEXT_RULES_H

namespace wendra
{

// Tells whether a byte starts a double-byte character in the ANSI code page.
typedef bool (*LeadByteTest)(unsigned char byte);

// The workbook name in a whole command line: the program's own name (the
// first token) is skipped, then every byte from 0x01 to 0x20; the rest is
// returned unchanged, quotes and trailing blanks included. A double quote
// opens and closes a quoted stretch of the first token, in which blanks do
// not end it; the second byte of a double-byte character never ends it.
const char *ArgumentOf(const char *commandLine, LeadByteTest isLeadByte);

// Byte-wise equality up to the terminating NUL, with only the letters A to Z
// folded to a to z (the bytes 0x41-0x5A, also where they are the second byte
// of a double-byte character).
bool NamesEqual(const char *left, const char *right);

} // namespace wendra

#endif
