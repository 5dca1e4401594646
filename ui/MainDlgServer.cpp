// CMainDlg's command for the local web server: the start off the UI
// thread, its result, the stop, and the tick that notices a server that
// ended by itself.
#include <cstdio>
#include <string>
#include <system_error>

#include "accel/ProcessControl.h"
#include "common/Trace.h"
#include "common/Utf8ToLocal.h"
#include "framework/MessageBox.h"
#include "res/resource.h"
#include "ui/MainDlg.h"

namespace {

constexpr const char* kStartingCaption = "启动中…";
constexpr const char* kCannotStart = "，无法启动加速服务！";

// Why a start failed, in the local code page (paths are in it already);
// empty when there is nothing to say.
std::string StartFailureText(const CAccelerationServer& server, const CAccelerationServer::StartResult& result)
{
    switch (result.outcome) {
    case CAccelerationServer::START_PORT_TAKEN:
        return Utf8ToLocal("端口3000已被其他程序占用，无法启动加速服务！");
    case CAccelerationServer::START_PORT_RESERVED:
        return Utf8ToLocal("端口3000被系统保留，无法启动加速服务！");
    case CAccelerationServer::START_MISSING:
        return Utf8ToLocal("找不到加速服务程序 ") + server.ProgramPath() + Utf8ToLocal(kCannotStart);
    case CAccelerationServer::START_LAUNCH_FAILED:
        return Utf8ToLocal("加速服务程序 ") + server.ProgramPath() +
               Utf8ToLocal(" 无法运行（错误 " + std::to_string(result.code) + "）" + kCannotStart);
    case CAccelerationServer::START_CONFIG_REFUSED:
        return Utf8ToLocal("加速服务拒绝了它的配置 ") + server.ProgramDir() + "/Caddyfile" + Utf8ToLocal(kCannotStart);
    case CAccelerationServer::START_EXITED:
        return Utf8ToLocal("加速服务启动后退出，退出状态 " + std::to_string(result.code) + kCannotStart);
    default:
        return std::string();
    }
}

}  // namespace

void CMainDlg::ShowStopFailure(int error)
{
    char text[256];
    std::snprintf(text, sizeof text, "stop process: %s failed with error: %d\n", AccelerationServerName(), error);
    AfxMessageBox(text, MB_OK);
    AfxMessageBox(Utf8ToLocal("无法终止加速服务进程！"), MB_OKCANCEL);
}

// Stopping a leftover server and probing the new one take seconds: the
// start runs on a thread of its own, and the button says so meanwhile.
void CMainDlg::OnAccelerate()
{
    if (m_serverStage == ServerStage::Starting)
        return;
    if (m_serverStage == ServerStage::Running) {
        int error = 0;
        if (!m_server.StopAccelerationService(error))
            ShowStopFailure(error);
        ShowServerStopped();
        RepaintNow();
        return;
    }
    if (m_serverStart.joinable())
        m_serverStart.join();  // the last start, already at its end
    m_nServerCancel = 0;
    m_serverStage = ServerStage::Starting;
    SetDlgItemText(IDC_ACCELERATE, Utf8ToLocal(kStartingCaption));
    UpdateControls();
    try {
        m_serverStart = std::thread([this, hwnd = GetSafeHwnd()] {
            CAccelerationServer::StartResult result = m_server.Start(&m_nServerCancel);
            PostToWindow(hwnd, [this, result] { EndServerStart(result); });
        });
    } catch (const std::system_error& error) {
        EndServerStart({CAccelerationServer::START_LAUNCH_FAILED, error.code().value()});
    }
    RepaintNow();
}

// The start's result, on the UI thread. A server that answers otherwise
// was stopped again, silently unless that failed.
void CMainDlg::EndServerStart(const CAccelerationServer::StartResult& result)
{
    if (m_nServerCancel || m_serverStage != ServerStage::Starting)
        return;
    if (result.outcome == CAccelerationServer::START_RUNNING) {
        m_serverStage = ServerStage::Running;
        SetCommandButton(IDC_ACCELERATE, "停止加速", IDI_ACCEL_RUNNING);
        SetTimer(kServerTimerId, kServerCheckMs);
        UpdateControls();
    } else {
        m_serverStage = ServerStage::Stopped;
        SetCommandButton(IDC_ACCELERATE, "启动加速", IDI_ACCEL_STOPPED);
        UpdateControls();
        if (result.outcome == CAccelerationServer::START_NO_ANSWER && result.stopError != 0)
            ShowStopFailure(result.stopError);
        else if (std::string text = StartFailureText(m_server, result); !text.empty())
            AfxMessageBox(text);
    }
    RepaintNow();
}

// The stop's steps: the lists come back unless a job or a fetch holds
// them, and IDOK offers a new start.
void CMainDlg::ShowServerStopped()
{
    m_serverStage = ServerStage::Stopped;
    KillTimer(kServerTimerId);
    if (m_jobStage == JobStage::Complete)
        m_bListsBack = true;
    if (m_jobStage != JobStage::Working)
        SetCommandButton(IDOK, "开始缓存", IDI_START_CACHING);
    SetCommandButton(IDC_ACCELERATE, "启动加速", IDI_ACCEL_STOPPED);
    UpdateControls();
}

// A server that ended by itself (a crash, killed from outside) no longer
// serves: the window says so as after a stop.
void CMainDlg::CheckServer()
{
    if (m_serverStage != ServerStage::Running || m_server.IsRunning())
        return;
    SupportLog("local server ended by itself: status %d", m_server.ExitStatus());
    ShowServerStopped();
    RepaintNow();
}
