// wan_relay [--rtt-ms N] [--conn-rate R] [--window W] UPSTREAM_PORT
//
// A TCP relay on 127.0.0.1 that stands in for a wide-area link between the
// clients and a server on this machine. It prints "relay on
// 127.0.0.1:PORT", connects each client it accepts there to UPSTREAM_PORT,
// and hands every byte on half a round trip (--rtt-ms, default 40) after it
// came, unchanged and in order, both ways. A new connection's first bytes
// wait one more round trip (TCP's handshake), so a TLS handshake and every
// request pay what they would across the link. --conn-rate caps each
// direction of a connection at R bytes a second (K or M; 0, the default: no
// cap); --window (default 4M) is the most a connection carries a round
// trip, as TCP's window over a long link allows.
//
// The delays are timestamps, not sleeps: a chunk read at t is due at
// max(t, when the chunk before it has gone through the rate cap) plus the
// one-way delay, and a timer wakes the loop when the earliest one is due.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <queue>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

constexpr size_t kReadSize = 65536;
constexpr uint64_t kListenerKey = 0, kTimerKey = 1;  // epoll keys; a connection's are 2 * id + side

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;  // empty: the sender's FIN
};

// One way through the link: bytes read from `from`, handed to `to` when due.
struct Direction {
    int from = -1, to = -1;
    std::deque<Chunk> chunks;
    size_t queued = 0;                // bytes in `chunks` not yet written
    size_t written = 0;               // of the front chunk
    Clock::time_point linkFree;       // when the rate cap has let through all read so far
    bool readDone = false;            // `from` sent its FIN (or failed)
    bool finSent = false;             // `to` has been shut down for writing
    bool blocked = false;             // `to` took no more; waiting for EPOLLOUT
};

struct Connection {
    int client = -1, upstream = -1;
    Direction up, down;  // client to upstream, upstream to client
    uint32_t clientEvents = 0, upstreamEvents = 0;  // registered with epoll
};

struct Settings {
    Nanos oneWay{0};
    int64_t rate = 0;     // bytes a second a direction; 0: no cap
    size_t inFlight = 0;  // bytes a direction holds before it stops reading
};

int64_t ParseBytes(const char* text)
{
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (*end == 'K' || *end == 'k')
        value *= 1024;
    else if (*end == 'M' || *end == 'm')
        value *= 1048576;
    return static_cast<int64_t>(value);
}

class Relay {
public:
    Relay(Settings settings, int listener, int upstreamPort)
        : m_settings(settings), m_listener(listener), m_upstreamPort(upstreamPort)
    {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        Watch(m_listener, kListenerKey, EPOLLIN);
        Watch(m_timer, kTimerKey, EPOLLIN);
    }

    void Run()
    {
        epoll_event events[64];
        for (;;) {
            int n = epoll_wait(m_epoll, events, 64, -1);
            if (n < 0 && errno != EINTR) {
                std::perror("wan_relay: epoll_wait");
                return;
            }
            for (int i = 0; i < n; ++i) {
                uint64_t key = events[i].data.u64;
                if (key == kListenerKey)
                    Accept();
                else if (key == kTimerKey) {
                    uint64_t expirations;
                    while (read(m_timer, &expirations, sizeof expirations) > 0) {
                    }
                } else
                    OnSocket(key / 2, key % 2, events[i].events);
            }
            DeliverDue();
        }
    }

private:
    void Watch(int fd, uint64_t key, uint32_t events)
    {
        epoll_event event{};
        event.events = events;
        event.data.u64 = key;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }

    void Accept()
    {
        for (;;) {
            int client = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0)
                return;
            // Loopback: the server's kernel completes the connect at once.
            int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(m_upstreamPort));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                std::perror("wan_relay: connect");
                close(upstream);
                Reset(client);
                continue;
            }
            fcntl(upstream, F_SETFL, O_NONBLOCK);
            int one = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            setsockopt(upstream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

            uint64_t id = m_nextId++;
            auto connection = std::make_unique<Connection>();
            connection->client = client;
            connection->upstream = upstream;
            connection->up.from = connection->down.to = client;
            connection->up.to = connection->down.from = upstream;
            // Nothing crosses before the SYN and the SYN-ACK have.
            Clock::time_point opened = Clock::now() + 2 * m_settings.oneWay;
            connection->up.linkFree = connection->down.linkFree = opened;
            connection->clientEvents = connection->upstreamEvents = EPOLLIN;
            Watch(client, 2 * id, EPOLLIN);
            Watch(upstream, 2 * id + 1, EPOLLIN);
            m_connections.emplace(id, std::move(connection));
        }
    }

    void OnSocket(uint64_t id, int side, uint32_t events)
    {
        auto found = m_connections.find(id);
        if (found == m_connections.end())
            return;
        Connection& c = *found->second;
        Direction& reading = side == 0 ? c.up : c.down;
        Direction& writing = side == 0 ? c.down : c.up;
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            if (!Read(id, reading))
                return Close(id, true);
        if (events & EPOLLOUT) {
            writing.blocked = false;
            if (!Write(writing))
                return Close(id, true);
        }
        Settle(id);
    }

    // Reads what `d.from` has, up to the in-flight limit, and stamps each
    // chunk with when the far end gets it. False when the socket failed.
    bool Read(uint64_t id, Direction& d)
    {
        size_t most = kReadSize;
        if (m_settings.rate > 0)  // a chunk is 10 ms of the capped rate, so the cap stays smooth
            most = std::clamp<size_t>(static_cast<size_t>(m_settings.rate / 100), 1024, kReadSize);
        while (!d.readDone && d.queued < m_settings.inFlight) {
            ssize_t n = read(d.from, m_buffer, most);
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            Clock::time_point start = std::max(Clock::now(), d.linkFree);
            if (m_settings.rate > 0)
                d.linkFree = start + Nanos(static_cast<int64_t>(1e9 * static_cast<double>(n) / m_settings.rate));
            else
                d.linkFree = start;
            Clock::time_point due = d.linkFree + m_settings.oneWay;
            m_due.emplace(due, id);
            d.queued += static_cast<size_t>(n);
            d.readDone = n == 0;
            d.chunks.push_back({due, std::vector<char>(m_buffer, m_buffer + n)});
        }
        return true;
    }

    // Hands on the chunks that are due; a FIN is handed on as a shutdown.
    // False when the socket failed.
    bool Write(Direction& d)
    {
        Clock::time_point now = Clock::now();
        while (!d.blocked && !d.chunks.empty() && d.chunks.front().due <= now) {
            Chunk& chunk = d.chunks.front();
            if (chunk.bytes.empty()) {
                shutdown(d.to, SHUT_WR);
                d.finSent = true;
                d.chunks.pop_front();
                continue;
            }
            ssize_t n = send(d.to, chunk.bytes.data() + d.written, chunk.bytes.size() - d.written, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    d.blocked = true;
                    break;
                }
                return false;
            }
            d.written += static_cast<size_t>(n);
            d.queued -= static_cast<size_t>(n);
            if (d.written == chunk.bytes.size()) {
                d.written = 0;
                d.chunks.pop_front();
            }
        }
        return true;
    }

    void DeliverDue()
    {
        Clock::time_point now = Clock::now();
        while (!m_due.empty() && m_due.top().first <= now) {
            uint64_t id = m_due.top().second;
            m_due.pop();
            auto found = m_connections.find(id);
            if (found == m_connections.end())
                continue;
            Connection& c = *found->second;
            if (!Write(c.up) || !Write(c.down)) {
                Close(id, true);
                continue;
            }
            // Room in flight again: read what waited.
            if (!Read(id, c.up) || !Read(id, c.down)) {
                Close(id, true);
                continue;
            }
            Settle(id);
        }
        itimerspec when{};
        if (!m_due.empty()) {
            auto since = m_due.top().first.time_since_epoch();
            when.it_value.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(since).count();
            when.it_value.tv_nsec = static_cast<long>((since - std::chrono::seconds(when.it_value.tv_sec)).count());
            if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
                when.it_value.tv_nsec = 1;  // zero would disarm the timer
        }
        timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &when, nullptr);
    }

    // Closes a connection whose two ways are done, or asks epoll for what
    // each socket waits for now.
    void Settle(uint64_t id)
    {
        Connection& c = *m_connections.at(id);
        if (c.up.finSent && c.down.finSent)
            return Close(id, false);
        auto wanted = [&](const Direction& reading, const Direction& writing) {
            uint32_t events = 0;
            if (!reading.readDone && reading.queued < m_settings.inFlight)
                events |= EPOLLIN;
            if (writing.blocked)
                events |= EPOLLOUT;
            return events;
        };
        Rewatch(c.client, 2 * id, c.clientEvents, wanted(c.up, c.down));
        Rewatch(c.upstream, 2 * id + 1, c.upstreamEvents, wanted(c.down, c.up));
    }

    // A socket with nothing to wait for leaves epoll, which would otherwise
    // report its hang-up over and over.
    void Rewatch(int fd, uint64_t key, uint32_t& registered, uint32_t events)
    {
        if (events == registered)
            return;
        epoll_event event{};
        event.events = events;
        event.data.u64 = key;
        epoll_ctl(m_epoll, events == 0 ? EPOLL_CTL_DEL : registered == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event);
        registered = events;
    }

    // A failed socket resets both ends at once, as the link would show a
    // reset only late but a client must not wait on a dead peer.
    void Close(uint64_t id, bool reset)
    {
        auto found = m_connections.find(id);
        if (found == m_connections.end())
            return;
        Connection& c = *found->second;
        for (int fd : {c.client, c.upstream}) {
            if ((fd == c.client ? c.clientEvents : c.upstreamEvents) != 0)
                epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
            if (reset)
                Reset(fd);
            else
                close(fd);
        }
        m_connections.erase(found);
    }

    static void Reset(int fd)
    {
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(fd);
    }

    Settings m_settings;
    int m_listener, m_upstreamPort;
    int m_epoll = -1, m_timer = -1;
    uint64_t m_nextId = 1;
    char m_buffer[kReadSize];
    std::unordered_map<uint64_t, std::unique_ptr<Connection>> m_connections;
    // When a connection has a chunk due, an entry for each chunk; those of
    // a connection that is gone are skipped.
    using Due = std::pair<Clock::time_point, uint64_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_due;
};

}  // namespace

int main(int argc, char** argv)
{
    int rttMs = 40;
    Settings settings;
    int64_t window = 4 * 1048576;
    int upstreamPort = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rtt-ms") == 0 && i + 1 < argc)
            rttMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--conn-rate") == 0 && i + 1 < argc)
            settings.rate = ParseBytes(argv[++i]);
        else if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc)
            window = ParseBytes(argv[++i]);
        else if (upstreamPort == 0)
            upstreamPort = std::atoi(argv[i]);
        else
            upstreamPort = -1;
    }
    if (upstreamPort <= 0 || window <= 0) {
        std::fprintf(stderr, "usage: %s [--rtt-ms N] [--conn-rate R] [--window W] UPSTREAM_PORT\n", argv[0]);
        return 2;
    }
    settings.oneWay = std::chrono::microseconds(rttMs * 500);
    // A round trip carries `window`: half of it is on its way each way.
    settings.inFlight = static_cast<size_t>(std::max<int64_t>(window / 2, kReadSize));

    int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1024) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("wan_relay: listen");
        return 1;
    }
    std::printf("relay on 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    std::signal(SIGPIPE, SIG_IGN);
    Relay(settings, listener, upstreamPort).Run();
    return 1;
}
