// MD5 digests (RFC 1321) as 32 lowercase hex digits: the login's password
// digest and the check of a downloaded file against its resource record.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class CMd5 {
public:
    static constexpr size_t kDigestLength = 16;

    CMd5();
    ~CMd5();
    CMd5(const CMd5&) = delete;
    CMd5& operator=(const CMd5&) = delete;
    void Update(const void* bytes, size_t length);
    // Ends the digest; call once.
    std::string HexDigest();

private:
    // The system's MD5 (libmd; Windows: CNG), posix/Md5.cpp and win32/Md5.cpp.
    struct Context;
    std::unique_ptr<Context> m_context;

    static std::string HexOf(const unsigned char (&digest)[kDigestLength]);
};

std::string Md5Hex(std::string_view bytes);

// 32 hex digits, either case: what a resource record's md5 must be to be used.
bool IsMd5Hex(std::string_view text);
