// A program other than the client that shows a top-level window captioned
// by its first argument (Explorer on a folder of the client's name, say);
// with a second, it first takes the lock of that file as another copy of
// the client would. Runs until it is ended.
#include <windows.h>
#include <shellapi.h>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2)
        return 2;
    if (argc > 2) {
        HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED at = {};
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at))
            return 3;
    }
    WNDCLASSW c = {};
    c.lpfnWndProc = DefWindowProcW;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"CabinetWClass";
    RegisterClassW(&c);
    HWND window = CreateWindowExW(0, c.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 0, 0, 80, 40, nullptr, nullptr,
                                  c.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    for (MSG message; GetMessageW(&message, nullptr, 0, 0) > 0;)
        DispatchMessageW(&message);
    return 0;
}
