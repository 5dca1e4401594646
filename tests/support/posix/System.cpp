// The test helpers that differ by system, POSIX: raw sockets, the
// environment, locales.
#include "tests/support/Environment.h"
#include "tests/support/LocaleScope.h"
#include "tests/support/LoopbackServer.h"

#include <clocale>

#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A socket bound to `port` (or a free port) on 127.0.0.1; returns the port.
int BindLoopback(int fd, int port = 0, bool reuse = true)
{
    int on = 1;
    if (reuse)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

void CommonListenerOptions(intptr_t socket)
{
    int on = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

RefusingPort::RefusingPort() : m_fd(socket(AF_INET, SOCK_STREAM, 0))
{
    m_port = BindLoopback(static_cast<int>(m_fd), 0, false);
}

void RefusingPort::Release()
{
    if (m_fd >= 0)
        close(static_cast<int>(m_fd));
    m_fd = -1;
}

SilentListener::SilentListener(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)), m_port(BindLoopback(static_cast<int>(m_fd), port))
{
    listen(static_cast<int>(m_fd), 64);
    m_thread = std::thread([this] {
        for (int client; (client = accept(static_cast<int>(m_fd), nullptr, nullptr)) >= 0;) {
            m_accepted.push_back(client);
            ++m_nConnections;
        }
    });
}

SilentListener::~SilentListener()
{
    shutdown(static_cast<int>(m_fd), SHUT_RDWR);  // ends the accept loop
    m_thread.join();
    close(static_cast<int>(m_fd));
    for (intptr_t client : m_accepted)
        close(static_cast<int>(client));
}

void SetEnv(const char* name, const char* value)
{
    setenv(name, value, 1);
}

void UnsetEnv(const char* name)
{
    unsetenv(name);
}

namespace {

const char* LocaleName(TestLocale locale)
{
    switch (locale) {
    case TestLocale::Gbk:
        return "zh_CN.GBK";
    case TestLocale::Utf8:
        return "C.UTF-8";
    case TestLocale::CommaDecimal:
        return "de_DE.UTF-8";
    }
    return "C";
}

}  // namespace

LocaleScope::LocaleScope(TestLocale locale) : m_saved(std::setlocale(LC_ALL, nullptr))
{
    m_ok = std::setlocale(LC_ALL, LocaleName(locale)) != nullptr;
}

LocaleScope::~LocaleScope()
{
    std::setlocale(LC_ALL, m_saved.c_str());
}
