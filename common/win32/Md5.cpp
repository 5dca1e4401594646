#include "common/Md5.h"

#include <windows.h>
#include <bcrypt.h>

// CNG's MD5; the algorithm handle is opened once for the process.
struct CMd5::Context {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

BCRYPT_ALG_HANDLE Md5Algorithm()
{
    static BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        BCryptOpenAlgorithmProvider(&handle, BCRYPT_MD5_ALGORITHM, nullptr, 0);
        return handle;
    }();
    return algorithm;
}

}  // namespace

CMd5::CMd5() : m_context(std::make_unique<Context>())
{
    BCryptCreateHash(Md5Algorithm(), &m_context->hash, nullptr, 0, nullptr, 0, 0);
}

CMd5::~CMd5()
{
    if (m_context->hash)
        BCryptDestroyHash(m_context->hash);
}

void CMd5::Update(const void* bytes, size_t length)
{
    // CNG takes at most 4 GiB a call.
    auto* at = static_cast<const unsigned char*>(bytes);
    while (length > 0) {
        ULONG chunk = length > 0x40000000 ? 0x40000000 : static_cast<ULONG>(length);
        BCryptHashData(m_context->hash, const_cast<PUCHAR>(at), chunk, 0);
        at += chunk;
        length -= chunk;
    }
}

std::string CMd5::HexDigest()
{
    unsigned char digest[kDigestLength] = {};
    BCryptFinishHash(m_context->hash, digest, sizeof digest, 0);
    return HexOf(digest);
}
