// The root certificates the system trusts, as PEM text, for a CA bundle
// that adds a CA of one's own to them: a TLS library given a bundle trusts
// that bundle alone. Windows: the current user's ROOT store (with the
// machine's, group policy's and enterprise roots it shows). POSIX: empty,
// as OpenSSL keeps reading the system's certificate folder beside a bundle.
#pragma once

#include <string>

std::string SystemRootCertificates();
