#include "format_text.h"

#include <cstdarg>
#include <cstdio>

bool FormatText(char *buffer, std::size_t size, const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
#ifdef _WIN32
    // msvcrt.dll's own formatter: MinGW's, which std::snprintf is in C++,
    // imports functions that Windows 98 lacks. This one answers -1 when the
    // text is longer than size and leaves out the NUL when it is exactly size
    // bytes long.
    int length = _vsnprintf(buffer, size, format, args);
#else
    int length = std::vsnprintf(buffer, size, format, args);
#endif
    va_end(args);
    bool fits = length >= 0 && static_cast<std::size_t>(length) < size;
    if (!fits) buffer[size - 1] = '\0';
    return fits;
}
