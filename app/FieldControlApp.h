// CFieldControlApp: the program from start to end. Refuses to run while a
// window of the program (by caption, of a process of the same executable)
// exists or another copy holds the program directory's lock; runs the
// login window, then the main window for the chosen company.
#pragma once

#include "app/InstanceLock.h"
#include "framework/WinApp.h"

// Captions of the two windows, also what the single-instance check seeks;
// the main window's is the application's name.
constexpr const char* kLoginCaption = "Quorvel加速场控登录";
constexpr const char* kMainCaption = "Quorvel加速场控";

class CFieldControlApp : public CWinApp {
public:
    // How long a second copy waits for the first copy's window to appear.
    static constexpr int kWindowWaitMs = 10000;

    CFieldControlApp() : CWinApp(kMainCaption) {}

    bool InitInstance() override;

    // True when no top-level window of this program (its executable file)
    // has this caption; otherwise that window (or the pop-up it has open)
    // is restored and brought to the front.
    static bool IsFirstInstance(const char* caption);

private:
    static bool NoWindowOfTheProgram();
    static void RaiseWhenItAppears();

    CInstanceLock m_lock;  // held from the start to the end of the process
};
