#include "common/Utf8ToLocal.h"

#include "common/CodePage.h"

std::string Utf8ToLocal(std::string_view utf8)
{
    const wchar_t replacement = 0xFFFD;
    std::string wide = Transcode(utf8, "UTF-8", "WCHAR_T",
                                 std::string_view(reinterpret_cast<const char*>(&replacement),
                                                  sizeof replacement),
                                 1);
    return Transcode(wide, "WCHAR_T", LocalCodeset().c_str(), "?", sizeof(wchar_t));
}
