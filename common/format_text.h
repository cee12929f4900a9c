// printf-style formatting into a fixed buffer, through the C runtime the
// deliverables import (msvcrt.dll's own formatter on Windows).
#ifndef COMMON_FORMAT_TEXT_H
#define COMMON_FORMAT_TEXT_H

#include <cstddef>

// Writes the text into buffer (size > 0) and always ends it with a NUL.
// Returns false when the text did not fit; buffer then holds its first
// size - 1 bytes.
bool FormatText(char *buffer, std::size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

#endif
