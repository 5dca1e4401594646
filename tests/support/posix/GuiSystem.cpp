// The window tests' system parts on POSIX: X11 displays and windows,
// signals, the install tree of `cmake --install`.
#include "tests/support/GuiSystem.h"

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <wx/app.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/GuiTest.h"

// Xlib's macros (None, Success, ...) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace std::chrono_literals;

// ctest with a resource spec (scripts/test) gives each window test a
// display of its own: "id:91,slots:1" stands for the X display ":91".
bool PrepareTestDesktop(int&)
{
    const char* given = std::getenv("CTEST_RESOURCE_GROUP_0_DISPLAYS");
    if (!given || std::strncmp(given, "id:", 3) != 0)
        return true;
    std::string id(given + 3);
    setenv("DISPLAY", (":" + id.substr(0, id.find(','))).c_str(), 1);
    return true;
}

void AskThisProgramToEnd()
{
    kill(getpid(), SIGTERM);
}

void StopWatchingSessionEnd()
{
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        wxTheApp->SetSignalHandler(signal, SIG_DFL);
}

// The build's own install step, into a prefix of the test's.
std::string InstallClientUnder(const std::string& base)
{
    std::string prefix = base + "/Program Files \"q\" {x}";
    std::string install = "cmake --install '" QUORVEL_BUILD_DIR "' --prefix '" + prefix + "' >/dev/null";
    if (std::system(install.c_str()) != 0)
        return std::string();
    return prefix + "/lib/quorvel-client";
}

Utf8FileNames::Utf8FileNames() : m_saved(std::setlocale(LC_ALL, nullptr))
{
    m_ok = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
}

Utf8FileNames::~Utf8FileNames()
{
    std::setlocale(LC_ALL, m_saved.c_str());
}

struct ClientProcess::Process {
    ChildProcess child;
};

ClientProcess::ClientProcess() : ClientProcess(QUORVEL_CLIENT_PATH, {}) {}

ClientProcess::ClientProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_process = std::make_unique<Process>(Process{ChildProcess(argv)});
}

ClientProcess::~ClientProcess() = default;

bool ClientProcess::Started() const
{
    return m_process->child.Pid() > 0;
}

int ClientProcess::Wait(std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = m_process->child.Wait(0ms);
        if (status != -1 || std::chrono::steady_clock::now() >= deadline)
            return status;
        PumpEvents();
        std::this_thread::sleep_for(10ms);
    }
}

void ClientProcess::AskToEnd()
{
    m_process->child.Signal(SIGTERM);
}

struct ForeignWindow::Native {
    Display* display = XOpenDisplay(nullptr);
    Window window = 0;
};

ForeignWindow::ForeignWindow(const char* caption) : m_native(std::make_unique<Native>())
{
    Display* display = m_native->display;
    m_native->window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 80, 40, 0, 0, 0);
    Xutf8SetWMProperties(display, m_native->window, caption, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    XMapRaised(display, m_native->window);
    XSync(display, False);
}

ForeignWindow::~ForeignWindow()
{
    XDestroyWindow(m_native->display, m_native->window);
    XCloseDisplay(m_native->display);
}

TopWindow ForeignWindow::Handle() const
{
    return m_native->window;
}

// Only a viewable window can take the focus.
void ForeignWindow::TakeFocus()
{
    Eventually([&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(m_native->display, m_native->window, &attributes) &&
               attributes.map_state == IsViewable;
    }, 5s);
    XSetInputFocus(m_native->display, m_native->window, RevertToParent, CurrentTime);
    XSync(m_native->display, False);
}

TopWindow FocusedTopWindow()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    XCloseDisplay(display);
    return focus;
}

// GTK names its window on X as it maps it.
bool WaitUntilShown(TopWindow)
{
    return true;
}

bool SignInByKeyboard(const char* caption, const char* user, const char* password)
{
    std::string command = std::string("timeout 20 xdotool search --sync --name '^") + caption +
                          "$' windowfocus --sync type --delay 20 '" + user +
                          "' && xdotool key Tab type --delay 20 '" + password + "' && xdotool key Return";
    return std::system(command.c_str()) == 0;
}
