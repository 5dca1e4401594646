#include "app/InstanceLock.h"

#include <cwctype>
#include <windows.h>

#include "common/Md5.h"
#include "common/win32/WideText.h"

CInstanceLock::~CInstanceLock()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

// A mutex named after the program directory (case folded, as Windows
// compares paths), in this session's namespace; not inherited.
bool CInstanceLock::Acquire(const std::string& directory)
{
    std::wstring wide = Utf8ToWide(directory);
    for (wchar_t& c : wide)
        c = std::towlower(c);
    std::string folded(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    std::wstring name = L"Local\\quorvel-client-" + Utf8ToWide(Md5Hex(folded));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex)
        return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(mutex);
    return true;
}
