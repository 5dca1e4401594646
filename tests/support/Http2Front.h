// nginx as an HTTP/2 front over TLS for a server on 127.0.0.1, so the
// engine meets that server's answers, faults included, as HTTP/2 carries
// them. Started as a child on a free port with a config, a log and a
// certificate (for 127.0.0.1) of its own; it passes every answer on as it
// comes: no buffering, no compression, ranges, validators and redirects as
// the server sent them. An answer the server cuts off reaches the client as
// a stream reset (RST_STREAM, INTERNAL_ERROR); a stall stays a stall.
// Stopped by its pid when the object goes. POSIX only: the Windows build
// has none (Start fails there).
//
// The engine reads QUORVEL_CA_FILE once, at a process's first transfer: a
// test environment names the front's certificate there before the first
// case when any case to run has kMark in its name.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Http2Front {
public:
    static constexpr const char* kMark = "Http2";

    // In front of 127.0.0.1:`upstreamPort`; after `streamsPerConnection`
    // streams nginx ends a connection with a GOAWAY (keepalive_requests).
    Http2Front(int upstreamPort, int streamsPerConnection);
    ~Http2Front();
    Http2Front(const Http2Front&) = delete;
    Http2Front& operator=(const Http2Front&) = delete;

    // Starts it and waits until it listens; false (with the reason in
    // Failure()) when it cannot.
    bool Start();
    const std::string& Failure() const { return m_failure; }
    std::string Url(const std::string& path) const;
    int StreamsPerConnection() const { return m_nStreamsPerConnection; }

    // A line of its access log: one request as nginx saw it.
    struct Logged {
        std::string protocol;  // "HTTP/2.0"
        long connection = 0;   // nginx's serial number of the connection
        int stream = 0;        // of the connection's requests, this one's number (1 on)
        int status = 0;
    };
    // The requests logged so far (nginx logs a request as it ends).
    std::vector<Logged> Log() const;

    // The certificate every front of this process serves; made at the
    // first call. Empty when it cannot be made.
    static std::string CertificateFile();

private:
    struct Running;  // nginx and its directory, as each system has them

    int m_nUpstreamPort;
    int m_nStreamsPerConnection;
    int m_port = 0;
    std::string m_failure;
    std::unique_ptr<Running> m_running;
};
