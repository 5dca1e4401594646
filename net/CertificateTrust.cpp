#include "net/CertificateTrust.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "common/Environment.h"
#include "common/FileSystem.h"
#include "common/Trace.h"
#include "net/SystemRoots.h"

namespace {

bool ReadWhole(const std::string& path, std::string& text)
{
    fsys::Handle file = fsys::Open(path, fsys::Mode::Read);
    if (file == fsys::kNoFile)
        return false;
    char chunk[65536];
    int64_t got = 0;
    while ((got = fsys::ReadAt(file, chunk, sizeof chunk, static_cast<int64_t>(text.size()))) > 0)
        text.append(chunk, static_cast<size_t>(got));
    fsys::Close(file);
    return got == 0;
}

// The system's roots and the file's CAs in one PEM bundle; "" when no file
// is named or it cannot be read (the system's store alone then).
std::string LoadBundle()
{
    std::string path = EnvironmentText("QUORVEL_CA_FILE");
    std::string file;
    if (path.empty())
        return file;
    if (!ReadWhole(path, file)) {
        DebugLog("QUORVEL_CA_FILE %s cannot be read: %s", path.c_str(), std::strerror(errno));
        return std::string();
    }
    return SystemRootCertificates() + "\n" + file;
}

}  // namespace

void ApplyCertificateTrust(CURL* easy)
{
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    static const std::string bundle = LoadBundle();
    if (bundle.empty())
        return;
    curl_blob blob{const_cast<char*>(bundle.data()), bundle.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}
