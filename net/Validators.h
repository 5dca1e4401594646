// Validators: what an HTTP answer says about the version of the file it
// carries (ETag and Last-Modified), and what follows from them as RFC 9110
// has it: which may go into If-Range, whether two answers describe the same
// version, and what identifies the file in the side file.
#pragma once

#include <string>

struct Validators {
    std::string etag;          // as sent, quotes and a weak "W/" kept
    std::string lastModified;  // as sent

    // Reads one header line of an answer; a status line ("HTTP/...") begins
    // a new answer (after a redirect or an interim one) and forgets both.
    void TakeHeaderLine(const std::string& line);

    bool HasStrongEtag() const { return !etag.empty() && etag.rfind("W/", 0) != 0; }
    // For If-Range: a strong ETag, else Last-Modified, else nothing. A weak
    // tag there makes a compliant server answer every range with the whole
    // file.
    const std::string& ForIfRange() const;
    // The answer `other` carries another version: a validator that both
    // name differs. (A validator one of them lacks tells nothing.)
    bool DiffersFrom(const Validators& other) const;
    // "ETag "v1"" or "Last-Modified ...", for failure texts.
    std::string Describe() const;
};

// The side file's identity of a download of `url` whose size query answered
// with `v`. With a strong ETag the query and fragment are left out: signed
// URLs are signed anew at every list fetch, and the tag names the version.
// Without one, the whole URL and whatever validator there is.
uint64_t DownloadIdentity(const std::string& url, const Validators& v);
