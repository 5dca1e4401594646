// What a TLS connection trusts, and how strictly it checks revocation.
// Revocation is checked best-effort: a certificate known to be revoked is
// refused, but one whose CRL or OCSP server cannot be reached (a LAN without
// internet, a TLS-inspecting proxy) is not. QUORVEL_CA_FILE names a PEM
// file of CAs trusted beside the system's own roots, never instead of them.
#pragma once

#include <curl/curl.h>

// Reads the CA file and the system's roots once per process, on the first
// call from any thread.
void ApplyCertificateTrust(CURL* easy);
