// CMainDlg: the operator's working window (template 129). It holds the
// ClientContext of the session; the lists, the caching job and the
// acceleration service are wired to it by the later steps.
#pragma once

#include <string>

#include "app/ClientContext.h"
#include "framework/Dialog.h"

class CMainDlg : public CDialog {
public:
    CMainDlg();

    // Called once before the window runs: the company of the login.
    void SetCompany(std::string compId) { m_context.comp_id = std::move(compId); }
    const ClientContext& GetContext() const { return m_context; }

    bool OnInitDialog() override;

private:
    ClientContext m_context;
};
