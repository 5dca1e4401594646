#include "tools/Say.h"

#include <cstdarg>
#include <string>

#include "common/ConsoleText.h"

void Say(FILE* stream, const char* format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? length : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    WriteText(stream, text);
}
