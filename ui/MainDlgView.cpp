// CMainDlg as the caching job's view: the job's updates of rows, bar,
// figures, timer and phase, applied in order on the UI thread.
#include <wx/listctrl.h>

#include "cache/Figures.h"
#include "common/Utf8ToLocal.h"
#include "framework/LocalText.h"
#include "res/resource.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

// Updates of the caching thread are posted; those of the UI thread run at
// once. Both pass one queue, so an update made on the UI thread never
// overtakes one the caching thread posted before it (a stop as the check
// ends must leave the timer stopped).
void CMainDlg::OnUiThread(std::function<void()> update)
{
    {
        std::lock_guard<std::mutex> guard(m_updateLock);
        m_updates.push_back(std::move(update));
    }
    if (wxIsMainThread())
        ApplyUpdates();
    else
        PostToWindow(GetSafeHwnd(), [this] { ApplyUpdates(); });
}

void CMainDlg::ApplyUpdates()
{
    for (;;) {
        std::function<void()> update;
        {
            std::lock_guard<std::mutex> guard(m_updateLock);
            if (m_updates.empty())
                return;
            update = std::move(m_updates.front());
            m_updates.pop_front();
        }
        update();
    }
}

void CMainDlg::ShowRowPercent(size_t row, const std::string& text)
{
    OnUiThread([this, row, text] {
        if (static_cast<int>(row) < GetList(IDC_CONTENT_LIST)->GetItemCount())
            GetList(IDC_CONTENT_LIST)->SetItem(row, 1, Utf8ToWx(text.c_str()));
    });
}

void CMainDlg::ShowRowStatus(size_t row, uint8_t status)
{
    OnUiThread([this, row, status] {
        if (static_cast<int>(row) < GetList(IDC_CONTENT_LIST)->GetItemCount())
            GetList(IDC_CONTENT_LIST)->SetItem(row, 2, Utf8ToWx(StatusText(status)));
        if (status != STATUS_FAILED && row < m_rowFailures.size())
            m_rowFailures[row].clear();
    });
}

void CMainDlg::ShowRowFailure(size_t row, const std::string& why)
{
    OnUiThread([this, row, why] {
        if (static_cast<int>(row) >= GetList(IDC_CONTENT_LIST)->GetItemCount())
            return;
        if (m_rowFailures.size() <= row)
            m_rowFailures.resize(row + 1);
        m_rowFailures[row] = why;
    });
}

void CMainDlg::ShowBar(int position)
{
    OnUiThread([this, position] { GetProgressBar()->SetPos(position); });
}

void CMainDlg::ShowElapsed(const std::string& text)
{
    OnUiThread([this, text] { SetDlgItemText(IDC_ELAPSED, Utf8ToLocal(text)); });
}

// The notice takes the wide line the list failures use: the elapsed-time
// field holds two short lines, not "无法连接 host:port，稍后重试".
void CMainDlg::ShowNotice(const std::string& text)
{
    OnUiThread([this, text] {
        if (text.empty() && !m_bNotice)
            return;
        m_bNotice = !text.empty();
        ShowStatusLine(text);
    });
}

void CMainDlg::StartProgressTimer()
{
    OnUiThread([this] { SetTimer(kProgressTimerId, 1000); });
}

void CMainDlg::StopProgressTimer()
{
    OnUiThread([this] { KillTimer(kProgressTimerId); });
}

void CMainDlg::ShowPhase(Phase phase)
{
    OnUiThread([this, phase] {
        m_bListsBack = false;
        switch (phase) {
        case Phase::Checking:
            m_jobStage = JobStage::Working;
            SetCommandButton(IDOK, "停止缓存", IDI_STOP_CACHING);
            break;
        case Phase::CompleteAtOnce:
            m_jobStage = JobStage::CompleteAtOnce;
            m_bServable = true;
            break;
        case Phase::Complete:
            m_jobStage = JobStage::Complete;
            m_bServable = true;
            break;
        case Phase::GivenUp:
            // What is cached can be served while the failed rows wait.
            m_jobStage = JobStage::GivenUp;
            m_bServable = true;
            SetCommandButton(IDOK, "开始缓存", IDI_START_CACHING);
            break;
        case Phase::Stopped:
            m_jobStage = JobStage::Stopped;
            SetCommandButton(IDOK, "开始缓存", IDI_START_CACHING);
            break;
        }
        UpdateControls();
    });
}
