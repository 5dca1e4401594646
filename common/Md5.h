// MD5 digests (RFC 1321) as 32 lowercase hex digits: the login's password
// digest and the check of a downloaded file against its resource record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <md5.h>

class CMd5 {
public:
    CMd5() { MD5Init(&m_context); }
    void Update(const void* bytes, size_t length);
    // Ends the digest; call once.
    std::string HexDigest();

private:
    MD5_CTX m_context;
};

std::string Md5Hex(std::string_view bytes);

// 32 hex digits, either case: what a resource record's md5 must be to be used.
bool IsMd5Hex(std::string_view text);
