// A program other than the client that shows a top-level window captioned
// argv[1] (a file manager on a folder of the client's name, say), with its
// pid and host as GTK sets them; with argv[2], it first takes the lock of
// that file as another copy of the client would. Runs until it is killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    Display* display = XOpenDisplay(nullptr);
    if (argc < 2 || !display)
        return 2;
    if (argc > 2 && flock(open(argv[2], O_RDWR | O_CREAT, 0644), LOCK_EX | LOCK_NB) != 0)
        return 3;
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 80, 40, 0, 0, 0);
    Xutf8SetWMProperties(display, window, argv[1], nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XMapRaised(display, window);
    for (XEvent event;;)
        XNextEvent(display, &event);
}
