#include <cstring>
#include <string>

#include "app/FieldControlApp.h"
#include "app/SystemHelp.h"
#include "common/ConsoleText.h"
#include "common/LogPlace.h"
#include "common/Trace.h"
#include "net/ProxyRoute.h"

// The one application object, built before main runs.
static CFieldControlApp theApp;

namespace {

const char kHelpStart[] =
    "usage: quorvel-client\n"
    "\n"
    "The venue operator's client: sign in, list the company's meetings, cache a\n"
    "meeting's media under assets/ beside the program, and serve the cache from\n"
    "a local Caddy on 127.0.0.1:3000.\n";

const char kHelpEnd[] =
    "\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "\n"
    "QUORVEL_DEBUG=1 writes a timestamped diagnostic line for each request and\n"
    "download to the log and to stderr; QUORVEL_CA_FILE names a CA file to trust\n"
    "for https content hosts besides the system's.\n";

bool IsArgument(int argc, char** argv, const char* name)
{
    return argc > 1 && std::strcmp(argv[1], name) == 0;
}

// On the console that started the program, or where its output was sent.
int Answer(const std::string& text)
{
    UseParentConsole();
    WriteText(stdout, text);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered without a window (and without a display).
    if (IsArgument(argc, argv, "-h") || IsArgument(argc, argv, "--help"))
        return Answer(std::string(kHelpStart) + kSystemHelp + kHelpEnd);
    if (IsArgument(argc, argv, "--version"))
        return Answer(std::string("quorvel-client ") + QV_VERSION + "\n");
    AdoptSystemProxy();  // before the first thread
    StartClientLog(LogFolder());
    SupportLog("quorvel-client %s started", QV_VERSION);
    int status = AfxWinMain(argc, argv);
    SupportLog("quorvel-client ended");
    StopClientLog();
    return status;
}
