#include "tests/support/Http2Front.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

#include "common/Environment.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

struct Http2Front::Running {
    TempDir dir;  // config, pid file, logs, nginx's temporary files
    std::unique_ptr<ChildProcess> nginx;
};

namespace {

// nginx on the PATH, or where Debian puts it (a user's PATH may lack /usr/sbin).
std::string FindNginx()
{
    std::istringstream path(EnvironmentText("PATH") + ":/usr/sbin");
    for (std::string dir; std::getline(path, dir, ':');)
        if (!dir.empty() && access((dir + "/nginx").c_str(), X_OK) == 0)
            return dir + "/nginx";
    return std::string();
}

// One process (master_process off), so stopping its pid stops the server.
// Answers pass through unbuffered, so a cut or a stall upstream reaches
// the client as it happens; Host is the front's, so redirects point back
// at it.
void WriteConfig(const TempDir& dir, int port, int upstreamPort, int streamsPerConnection, const std::string& cert)
{
    std::string certDir = cert.substr(0, cert.rfind('/'));
    std::ofstream(dir / "nginx.conf")
        << "master_process off;\n"
           "daemon off;\n"
           "pid " << dir / "nginx.pid" << ";\n"
           "error_log " << dir / "error.log" << ";\n"
           "events { worker_connections 1024; }\n"
           "http {\n"
           "  log_format front '$server_protocol $connection $connection_requests $status "
           "$body_bytes_sent \"$http_range\" $request_uri';\n"
           "  access_log " << dir / "access.log" << " front;\n"
           "  client_body_temp_path " << dir / "body" << ";\n"
           "  proxy_temp_path " << dir / "proxy" << ";\n"
           "  fastcgi_temp_path " << dir / "fastcgi" << ";\n"
           "  uwsgi_temp_path " << dir / "uwsgi" << ";\n"
           "  scgi_temp_path " << dir / "scgi" << ";\n"
           "  server {\n"
           "    listen 127.0.0.1:" << port << " ssl http2;\n"
           "    ssl_certificate " << cert << ";\n"
           "    ssl_certificate_key " << certDir << "/key.pem;\n"
           "    keepalive_requests " << streamsPerConnection << ";\n"
           "    gzip off;\n"
           "    location / {\n"
           "      proxy_pass http://127.0.0.1:" << upstreamPort << ";\n"
           "      proxy_http_version 1.1;\n"
           "      proxy_set_header Host $http_host;\n"
           "      proxy_buffering off;\n"
           "      proxy_request_buffering off;\n"
           "      proxy_max_temp_file_size 0;\n"
           "    }\n"
           "  }\n"
           "}\n";
}

// The engine reads QUORVEL_CA_FILE at the process's first transfer, which
// may come before a front starts: name the certificate before the first
// case when a case to run goes through a front.
class FrontTrust : public ::testing::Environment {
public:
    void SetUp() override
    {
        const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
        for (int i = 0; i < tests.total_test_suite_count(); ++i) {
            const ::testing::TestSuite& suite = *tests.GetTestSuite(i);
            if (suite.should_run() && std::string(suite.name()).find(Http2Front::kMark) != std::string::npos) {
                SetEnvironmentText("QUORVEL_CA_FILE", Http2Front::CertificateFile());
                return;
            }
        }
    }
};

::testing::Environment* const g_frontTrust = ::testing::AddGlobalTestEnvironment(new FrontTrust);

}  // namespace

Http2Front::Http2Front(int upstreamPort, int streamsPerConnection)
    : m_nUpstreamPort(upstreamPort), m_nStreamsPerConnection(streamsPerConnection)
{
}

Http2Front::~Http2Front() = default;

std::string Http2Front::CertificateFile()
{
    static TempDir dir;
    static const std::string made = [] {
        ChildProcess openssl({"/bin/sh", "-c", ". \"$0\" && make_test_cert \"$1\"", QUORVEL_TEST_CERT_SCRIPT, dir.Path()});
        return openssl.Wait() == 0 && FileExists(dir / "cert.pem") ? dir / "cert.pem" : std::string();
    }();
    return made;
}

bool Http2Front::Start()
{
    std::string cert = CertificateFile(), nginx = FindNginx();
    if (cert.empty()) {
        m_failure = "the test certificate could not be made (openssl)";
        return false;
    }
    if (EnvironmentText("QUORVEL_CA_FILE") != cert) {
        m_failure = std::string("QUORVEL_CA_FILE does not name the front's certificate: a case through the front "
                                "needs \"") + kMark + "\" in its name";
        return false;
    }
    if (nginx.empty()) {
        m_failure = "nginx is not installed (scripts/setup installs it)";
        return false;
    }
    // nginx writes its pid file once it listens. A port someone took
    // between its release and nginx's bind ends nginx (after its own five
    // tries): then another port.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_running = std::make_unique<Running>();
        const TempDir& dir = m_running->dir;
        RefusingPort free;
        m_port = free.Port();
        WriteConfig(dir, m_port, m_nUpstreamPort, m_nStreamsPerConnection, cert);
        free.Release();
        m_running->nginx = std::make_unique<ChildProcess>(
            std::vector<std::string>{nginx, "-e", dir / "error.log", "-p", dir.Path(), "-c", dir / "nginx.conf"});
        if (m_running->nginx->Pid() < 0) {
            m_failure = nginx + " could not be started";
            return false;
        }
        bool ended = false;
        auto listening = [&] { return ReadWholeFile(dir / "nginx.pid").find('\n') != std::string::npos; };
        Eventually([&] { return listening() || (ended = m_running->nginx->Wait(std::chrono::milliseconds(0)) >= 0); },
                   std::chrono::seconds(20));
        if (listening())
            return true;
        m_failure = (ended ? "nginx ended: " : "nginx did not listen within 20 s: ") + ReadWholeFile(dir / "error.log");
        if (!ended)
            return false;
    }
    return false;
}

std::string Http2Front::Url(const std::string& path) const
{
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<Http2Front::Logged> Http2Front::Log() const
{
    std::vector<Logged> log;
    if (!m_running)
        return log;
    // Whole lines only: nginx may be writing the next one.
    std::string text = ReadWholeFile(m_running->dir / "access.log");
    std::istringstream lines(text.substr(0, text.rfind('\n') + 1));
    for (std::string line; std::getline(lines, line);) {
        Logged l;
        std::istringstream(line) >> l.protocol >> l.connection >> l.stream >> l.status;
        log.push_back(l);
    }
    return log;
}
