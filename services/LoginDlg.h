// CLoginDlg: the login window (template 130). Leaving the user-name field
// looks up the user's companies (the first is taken); "登录" sends the user
// name, that company's id and the password's MD5, and closes with OK when
// the account service accepts. Everything runs on the UI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "net/HttpRequest.h"
#include "services/AccountApi.h"
#include "services/ServiceEndpoint.h"

class CLoginDlg : public CDialog {
public:
    CLoginDlg();

    // The company id of the accepted login, UTF-8 as the service sent it.
    std::string GetCompId() const { return m_strCompId; }

    bool OnInitDialog() override;
    void OnOK() override;

    // Company lookup for the typed user name, with retries; nothing when the
    // field is empty. Replaces the companies of an earlier lookup. False
    // when the service could not be reached (the operator was told).
    bool LookupCompanies();
    // One lookup request: an AccountResult.
    int FetchCompanies(const std::string& url);
    // One login request: an AccountResult.
    int RequestLogin(const std::string& compId, const std::string& userName,
                     const std::string& password);

    std::string m_strCompId;               // company of the last "登录" that passed the checks
    CHttpRequest m_request;                // both requests
    long m_nBudgetMs = kServiceTimeLimitMs;  // for all tries of one operator action
    std::vector<CompanyInfo> m_companies;  // same order as the combo's lines

private:
    int SelectedCompany() const;
    int FailedRequest() const;
    // RetryWhileFailed, every try within what is left of m_nBudgetMs.
    int WithinBudget(const std::function<int()>& attempt);
    bool ShowServiceTrouble(int result);
    // For support: which step failed for whom at which host, and why;
    // never the password nor its digest.
    void LogFailure(const char* step, const std::string& userName, int result) const;

    bool m_bLookingUp = false;  // a lookup (or its message box) is on
    std::string m_strLookedUp;  // the user name the company list belongs to
};
