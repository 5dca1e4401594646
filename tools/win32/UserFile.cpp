#include "tools/UserFile.h"

#include "common/win32/WideText.h"

FILE* OpenUserFile(const std::string& path)
{
    return _wfopen(Utf8ToWide(path).c_str(), L"rb");
}
