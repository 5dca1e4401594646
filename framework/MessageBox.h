// Message boxes: OK or OK/Cancel, no icon, modal to the given window (or to
// the dialog running modally), as AfxMessageBox and MessageBox show them.
#pragma once

#include <string>

#include "framework/Win32Types.h"

class wxWindow;

// Texts in the local code page. Returns IDOK or IDCANCEL.
int ShowMessageBox(wxWindow* parent, const std::string& localText,
                   const std::string& localCaption, UINT type);

// Captioned with the application's name (AfxGetAppName).
int AfxMessageBox(const std::string& localText, UINT type = MB_OK);
