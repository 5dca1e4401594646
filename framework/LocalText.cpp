#include "framework/LocalText.h"

#include "common/CodePage.h"
#include "common/Utf8ToLocal.h"

wxString LocalToWx(std::string_view local)
{
    std::string utf8 = LocalToUtf8(local);
    return wxString::FromUTF8(utf8.data(), utf8.size());
}

std::string WxToLocal(const wxString& text)
{
    wxScopedCharBuffer utf8 = text.utf8_str();
    return Utf8ToLocal(std::string_view(utf8.data(), utf8.length()));
}

wxString Utf8ToWx(const char* utf8)
{
    return wxString::FromUTF8(utf8 ? utf8 : "");
}
