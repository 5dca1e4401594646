// The boundary between the program's narrow texts and wx's wide ones.
// Texts in the local code page (what the design calls ANSI) become wxString
// when they reach a control and come back as local bytes when read.
#pragma once

#include <string>
#include <string_view>
#include <wx/string.h>

wxString LocalToWx(std::string_view local);
std::string WxToLocal(const wxString& text);
// Source literals (captions, messages) are UTF-8.
wxString Utf8ToWx(const char* utf8);
