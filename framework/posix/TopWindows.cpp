#include "framework/TopWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/FileSystem.h"

namespace {

// One display connection for the length of a call; errors from windows that
// vanish or are not viewable are ignored, as the Windows calls would fail
// quietly.
class XConnection {
public:
    XConnection() : m_display(XOpenDisplay(nullptr))
    {
        if (m_display)
            m_previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~XConnection()
    {
        if (!m_display)
            return;
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
        XCloseDisplay(m_display);
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* get() const { return m_display; }
    Window Root() const { return DefaultRootWindow(m_display); }
    Atom Intern(const char* name) const { return XInternAtom(m_display, name, False); }

    // The 32-bit items of a window property, empty when it is missing.
    std::vector<unsigned long> Longs(Window window, const char* name, Atom type) const
    {
        std::vector<unsigned long> values;
        Atom actualType;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, window, Intern(name), 0, 65536, False, type, &actualType,
                               &format, &count, &after, &data) == Success &&
            data && format == 32) {
            auto* items = reinterpret_cast<unsigned long*>(data);
            values.assign(items, items + count);
        }
        if (data)
            XFree(data);
        return values;
    }

private:
    Display* m_display;
    int (*m_previous)(Display*, XErrorEvent*) = nullptr;
};

std::string Utf8Name(const XConnection& x, Window window)
{
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(x.get(), window, x.Intern("_NET_WM_NAME"), 0, 4096, False,
                           x.Intern("UTF8_STRING"), &actualType, &format, &count, &after,
                           &data) == Success && data && format == 8) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return name;
    }
    if (data)
        XFree(data);
    XTextProperty text;
    if (XGetWMName(x.get(), window, &text) && text.value) {
        char** list = nullptr;
        int n = 0;
        if (Xutf8TextPropertyToTextList(x.get(), &text, &list, &n) >= Success && n > 0 && list)
            name = list[0];
        if (list)
            XFreeStringList(list);
        XFree(text.value);
    }
    return name;
}

// Top-level windows, bottom-most first: the window manager's client list
// where there is one (its frames hide the clients), else the root's children.
std::vector<Window> TopLevelWindows(const XConnection& x)
{
    std::vector<unsigned long> clients = x.Longs(x.Root(), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    std::vector<Window> windows(clients.begin(), clients.end());
    Window rootReturn, parent;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(x.get(), x.Root(), &rootReturn, &parent, &children, &count)) {
        windows.insert(windows.end(), children, children + count);
        XFree(children);
    }
    return windows;
}

bool IsMapped(const XConnection& x, Window window)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(x.get(), window, &attributes) && attributes.map_state == IsViewable;
}

// The top-most top-level window captioned `caption` that `accept` takes.
template <class Accept>
Window FindCaptioned(const XConnection& x, const char* caption, Accept accept)
{
    if (!x.get() || !caption)
        return 0;
    std::vector<Window> windows = TopLevelWindows(x);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (Utf8Name(x, *it) == caption && accept(*it))
            return *it;
    return 0;
}

// A window without WM_CLIENT_MACHINE is taken as this host's.
bool OnThisHost(const XConnection& x, Window window)
{
    XTextProperty machine;
    if (!XGetWMClientMachine(x.get(), window, &machine) || !machine.value)
        return true;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    bool same = std::string(reinterpret_cast<char*>(machine.value), machine.nitems) == host;
    XFree(machine.value);
    return same;
}

// The window's process (a pid means something on its own host only) runs
// the same executable file as this process.
bool OfThisProgram(const XConnection& x, Window window)
{
    std::vector<unsigned long> pid = x.Longs(window, "_NET_WM_PID", XA_CARDINAL);
    if (pid.size() != 1 || !OnThisHost(x, window))
        return false;
    fsys::Info theirs = fsys::Stat("/proc/" + std::to_string(pid[0]) + "/exe");
    fsys::Info ours = fsys::Stat("/proc/self/exe");
    return theirs.exists && ours.exists && theirs.volume == ours.volume && theirs.id == ours.id;
}

}  // namespace

TopWindow FindTopWindow(const char* caption)
{
    XConnection x;
    return FindCaptioned(x, caption, [](Window) { return true; });
}

TopWindow FindProgramWindow(const char* caption)
{
    XConnection x;
    return FindCaptioned(x, caption, [&](Window window) { return OfThisProgram(x, window); });
}

TopWindow LastActivePopupOf(TopWindow window)
{
    XConnection x;
    if (!x.get())
        return window;
    std::vector<Window> windows = TopLevelWindows(x);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        Window owner = 0;
        if (*it != window && XGetTransientForHint(x.get(), *it, &owner) && owner == window &&
            IsMapped(x, *it))
            return *it;
    }
    return window;
}

bool IsTopWindowIconic(TopWindow window)
{
    XConnection x;
    if (!x.get())
        return false;
    const long kIconicState = 3;
    std::vector<unsigned long> state = x.Longs(window, "WM_STATE", AnyPropertyType);
    if (!state.empty() && state[0] == kIconicState)
        return true;
    Atom hidden = x.Intern("_NET_WM_STATE_HIDDEN");
    for (unsigned long atom : x.Longs(window, "_NET_WM_STATE", XA_ATOM))
        if (atom == hidden)
            return true;
    return false;
}

void RestoreTopWindow(TopWindow window)
{
    XConnection x;
    if (x.get())
        XMapRaised(x.get(), window);
}

bool ActivateTopWindow(TopWindow window)
{
    XConnection x;
    if (!x.get())
        return false;
    if (!x.Longs(x.Root(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty()) {
        XEvent event;
        std::memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = x.Intern("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;  // from a pager-like tool: always honoured
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(x.get(), x.Root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    }
    XRaiseWindow(x.get(), window);
    XSetInputFocus(x.get(), window, RevertToParent, CurrentTime);
    return true;
}
