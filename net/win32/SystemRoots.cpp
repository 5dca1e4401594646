#include "net/SystemRoots.h"

#include <windows.h>
// The build names Windows' window handle type WIN32_HWND (cmake/win32-prelude.h);
// wincrypt.h declares dialogs with it.
#define HWND WIN32_HWND
#include <wincrypt.h>
#undef HWND

namespace {

std::string Pem(const CERT_CONTEXT* cert)
{
    DWORD size = 0;
    const DWORD flags = CRYPT_STRING_BASE64HEADER | CRYPT_STRING_NOCR;
    if (!CryptBinaryToStringA(cert->pbCertEncoded, cert->cbCertEncoded, flags, nullptr, &size))
        return std::string();
    std::string text(size, '\0');
    if (!CryptBinaryToStringA(cert->pbCertEncoded, cert->cbCertEncoded, flags, text.data(), &size))
        return std::string();
    text.resize(size);
    return text;
}

}  // namespace

std::string SystemRootCertificates()
{
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (!store)
        return std::string();
    std::string pem;
    const CERT_CONTEXT* cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)))
        if (cert->dwCertEncodingType & X509_ASN_ENCODING)
            pem += Pem(cert);
    CertCloseStore(store, 0);
    return pem;
}
