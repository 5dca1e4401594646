// CMainDlg: the operator's working window (template 129). It holds the
// ClientContext of the session; the lists, the caching job and the
// acceleration service are wired to it by the later steps.
#pragma once

#include <string>

#include "app/ClientContext.h"
#include "framework/Dialog.h"

class CPercentBar;

class CMainDlg : public CDialog {
public:
    CMainDlg();

    // Called once before the window runs: the company of the login.
    void SetCompany(std::string compId) { m_context.comp_id = std::move(compId); }
    const ClientContext& GetContext() const { return m_context; }

    bool OnInitDialog() override;

    // Control 1032; null while the window does not exist.
    CPercentBar* GetProgressBar() const;

protected:
    wxWindow* CreateControl(const ControlTemplate& control, wxWindow* parent, const wxPoint& pos,
                            const wxSize& size) override;

private:
    ClientContext m_context;
};
