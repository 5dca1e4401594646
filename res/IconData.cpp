#include "res/IconData.h"

#include "res/icons/icon128.xpm"
#include "res/icons/icon132.xpm"
#include "res/icons/icon133.xpm"
#include "res/icons/icon134.xpm"
#include "res/icons/icon135.xpm"
#include "res/icons/icon136.xpm"

const char* const* IconXpm(int iconId)
{
    switch (iconId) {
    case 128: return icon128_xpm;
    case 132: return icon132_xpm;
    case 133: return icon133_xpm;
    case 134: return icon134_xpm;
    case 135: return icon135_xpm;
    case 136: return icon136_xpm;
    }
    return nullptr;
}
