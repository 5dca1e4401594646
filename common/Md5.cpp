#include "common/Md5.h"

#include <cctype>
#include <cstdio>

void CMd5::Update(const void* bytes, size_t length)
{
    MD5Update(&m_context, static_cast<const unsigned char*>(bytes), length);
}

std::string CMd5::HexDigest()
{
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &m_context);
    char hex[2 * MD5_DIGEST_LENGTH + 1];
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
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
    if (text.size() != 2 * MD5_DIGEST_LENGTH)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}
