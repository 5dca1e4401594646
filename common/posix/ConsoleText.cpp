#include "common/ConsoleText.h"

void WriteText(FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

void UseParentConsole()
{
}
