#include "text_rules.h"

namespace wendra
{
namespace
{

bool IsSeparator(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

unsigned char FoldAsciiUpper(unsigned char byte)
{
    return byte >= 0x41 && byte <= 0x5A ? static_cast<unsigned char>(byte + 0x20) : byte;
}

} // namespace

const char *ArgumentOf(const char *commandLine, LeadByteTest isLeadByte)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(commandLine);
    bool quoted = false;
    while (*p != 0) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (!quoted && IsSeparator(*p)) {
            break;
        } else if (isLeadByte(*p) && p[1] != 0) {
            ++p; // the trail byte belongs to this character
        }
        ++p;
    }
    while (IsSeparator(*p))
        ++p;
    return reinterpret_cast<const char *>(p);
}

bool NamesEqual(const char *left, const char *right)
{
    const unsigned char *a = reinterpret_cast<const unsigned char *>(left);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(right);
    for (;; ++a, ++b) {
        if (FoldAsciiUpper(*a) != FoldAsciiUpper(*b)) return false;
        if (*a == 0) return true;
    }
}

} // namespace wendra
