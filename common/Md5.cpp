#include "common/Md5.h"

#include <cctype>

std::string CMd5::HexOf(const unsigned char (&digest)[kDigestLength])
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string Md5Hex(std::string_view bytes)
{
    CMd5 md5;
    md5.Update(bytes.data(), bytes.size());
    return md5.HexDigest();
}

bool IsMd5Hex(std::string_view text)
{
    if (text.size() != 2 * CMd5::kDigestLength)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}
