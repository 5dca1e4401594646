// Content files of the demo: deterministic bytes computed from the file's
// name and the offset, so files of any size are served without storing them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace httplib {
class Server;
}

// Bytes [offset, offset + length) of the demo file called `name`.
void FillContent(std::string_view name, int64_t offset, char* out, size_t length);

// Routes:
//   /files/<meet_id>/<file>  the demo meetings' resources (sizes from the data set)
//   /content/<size>/<name>   any size, for tests and benchmarks
// Both honour Range and take faults from the query string:
//   drop=N      close the connection after N body bytes of each answer
//   stall=N     stop sending after N body bytes (for stall_ms, default 30000)
//   norange=1   ignore Range and answer 200 with the whole file
//   status=C    answer status C (404, 416, 500 ...) without a body
//   redirect=1  answer 302 to the same URL without this parameter
//   redirect=html  the same with an HTML page as its body, as nginx sends
//   droponce=N  close the connection after N body bytes of the first
//               ranged answer for this URL only
//   nolength=1  send the body chunked, without Content-Length
//   rate=N      send at most N bytes a second per answer
//   rangestatus=C  answer requests that carry a Range with status C
// Validators as content hosts send them: the ETag "v<version>" (weak=1:
// W/"v<version>", noetag=1: none) and a Last-Modified of the version
// (nolastmodified=1, or noetag=1: none). A Range with an If-Range that does
// not match (RFC 9110: a weak tag never does) is answered with the whole
// current file; ignoreifrange=1 serves the range all the same, and
// changeonrange=1 changes every file to version 2 as the first range of it
// arrives, as a host whose file is replaced mid-download.
// `sentCounter`, when given, adds up the body bytes this server sends to
// range requests.
void MountDemoContent(httplib::Server& server, std::atomic<int64_t>* sentCounter = nullptr);

// A stand-in for a content host across a wide-area link: each answer waits
// `rttMs` (the request's way out and the answer's way back), an answer on a
// new connection `connectTrips` times more (the handshakes: 1 for TCP, 2
// with TLS 1.3), and every answer is sent at most `bytesPerSecond` (0:
// unlimited) unless its URL asks for a rate of its own. Applies to every
// server the content is mounted on.
void SetDemoLink(int rttMs, int64_t bytesPerSecond, int connectTrips = 1);

// Replaces every file by another version (1 at the start): other bytes,
// another ETag, as when files change on the server. The name FillContent
// takes for a version's bytes is DemoContentKey.
void SetDemoContentVersion(int version);
std::string DemoContentKey(std::string_view name, int version);
