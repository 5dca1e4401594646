// The test helpers that differ by system, Windows: raw sockets (Winsock),
// the environment, locales.
#include "tests/support/Environment.h"
#include "tests/support/LocaleScope.h"
#include "tests/support/LoopbackServer.h"

#include <clocale>

#include <cstdlib>

#include <winsock2.h>

namespace {

// A socket bound to `port` (or a free port) on 127.0.0.1; returns the port.
int BindLoopback(SOCKET s, int port = 0)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

SOCKET NewSocket()
{
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
    return socket(AF_INET, SOCK_STREAM, 0);
}

}  // namespace

void CommonListenerOptions(intptr_t socket)
{
    BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
}

RefusingPort::RefusingPort() : m_fd(static_cast<intptr_t>(NewSocket()))
{
    // Exclusive, as the POSIX one is without SO_REUSEADDR.
    BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(m_fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    m_port = BindLoopback(static_cast<SOCKET>(m_fd));
}

void RefusingPort::Release()
{
    if (m_fd != static_cast<intptr_t>(INVALID_SOCKET) && m_fd != -1)
        closesocket(static_cast<SOCKET>(m_fd));
    m_fd = -1;
}

SilentListener::SilentListener(int port)
    : m_fd(static_cast<intptr_t>(NewSocket())), m_port(BindLoopback(static_cast<SOCKET>(m_fd), port))
{
    listen(static_cast<SOCKET>(m_fd), 64);
    m_thread = std::thread([this] {
        for (SOCKET client; (client = accept(static_cast<SOCKET>(m_fd), nullptr, nullptr)) != INVALID_SOCKET;) {
            m_accepted.push_back(static_cast<intptr_t>(client));
            ++m_nConnections;
        }
    });
}

SilentListener::~SilentListener()
{
    closesocket(static_cast<SOCKET>(m_fd));  // ends the accept loop
    m_thread.join();
    for (intptr_t client : m_accepted)
        closesocket(static_cast<SOCKET>(client));
}

void SetEnv(const char* name, const char* value)
{
    _putenv_s(name, value);
}

void UnsetEnv(const char* name)
{
    _putenv_s(name, "");
}

LocaleScope::LocaleScope(TestLocale locale) : m_saved(std::setlocale(LC_ALL, nullptr))
{
    if (locale == TestLocale::CommaDecimal)
        m_ok = std::setlocale(LC_ALL, "German_Germany.1252") != nullptr;
    else
        m_ok = locale == TestLocale::Utf8;  // the program's text is UTF-8 whatever the code page
    m_unavailable = !m_ok;
}

LocaleScope::~LocaleScope()
{
    std::setlocale(LC_ALL, m_saved.c_str());
}
