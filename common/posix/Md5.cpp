#include "common/Md5.h"

#include <md5.h>

struct CMd5::Context {
    MD5_CTX md5;
};

CMd5::CMd5() : m_context(std::make_unique<Context>())
{
    MD5Init(&m_context->md5);
}

CMd5::~CMd5() = default;

void CMd5::Update(const void* bytes, size_t length)
{
    MD5Update(&m_context->md5, static_cast<const unsigned char*>(bytes), length);
}

std::string CMd5::HexDigest()
{
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &m_context->md5);
    return HexOf(digest);
}
