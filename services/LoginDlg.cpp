#include "services/LoginDlg.h"

#include <chrono>
#include <wx/combobox.h>

#include "common/CodePage.h"
#include "common/Trace.h"
#include "common/Utf8ToLocal.h"
#include "framework/LocalText.h"
#include "framework/MessageBox.h"
#include "framework/WaitCursor.h"
#include "res/resource.h"

CLoginDlg::CLoginDlg() : CDialog(IDD_LOGIN_DIALOG)
{
    MapKillFocus(IDC_USERNAME, [this] { LookupCompanies(); });
}

bool CLoginDlg::OnInitDialog()
{
    SetIcon(IDI_APP);
    return true;
}

bool CLoginDlg::LookupCompanies()
{
    std::string userName = GetDlgItemText(IDC_USERNAME);
    if (userName.empty())
        return true;
    m_companies.clear();
    if (auto* combo = dynamic_cast<wxComboBox*>(GetDlgItem(IDC_COMPANY)))
        combo->Clear();
    if (m_bLookingUp)
        return true;  // the focus left the field for this lookup's own message
    m_bLookingUp = true;
    m_strLookedUp = userName;
    std::string url = CompanyLookupUrl(AccountServiceEndpoint(), userName);
    int result;
    {
        CWaitCursor busy;
        result = WithinBudget([&] { return FetchCompanies(url); });
    }
    if (result != ACCOUNT_OK)
        LogFailure("company lookup", userName, result);
    bool reached = !ShowServiceTrouble(result);
    m_bLookingUp = false;
    return reached;
}

// One operator action waits for the service at most m_nBudgetMs, however
// many tries it takes; a try that timed out ends them.
int CLoginDlg::WithinBudget(const std::function<int()>& attempt)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nBudgetMs);
    return RetryWhileFailed([&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            m_request.m_nFailure = HTTP_FAILURE_TIMED_OUT;
            return static_cast<int>(ACCOUNT_TIMED_OUT);
        }
        m_request.m_nTimeLimitMs = static_cast<long>(left.count());
        return attempt();
    });
}

// After the tries of a request: a service that was not reached, or that
// answered as it never should, is named (never a prompt that blames what
// the operator typed). True when the operator was told.
bool CLoginDlg::ShowServiceTrouble(int result)
{
    if (IsNoConnection(m_request.m_nFailure))
        AfxMessageBox(Utf8ToLocal(UnreachableText(AccountServiceEndpoint())));
    else if (result == ACCOUNT_FAILED || result == ACCOUNT_BAD_ANSWER)
        AfxMessageBox(Utf8ToLocal(ServiceErrorText(AccountServiceEndpoint())));
    else
        return false;
    return true;
}

void CLoginDlg::LogFailure(const char* step, const std::string& userName, int result) const
{
    SupportLog("%s as %s failed: %s; %s", step, LocalToUtf8(userName).c_str(), AccountResultText(result),
               RequestOutcomeText(AccountServiceEndpoint(), m_request).c_str());
}

int CLoginDlg::FailedRequest() const
{
    return m_request.m_nFailure == HTTP_FAILURE_TIMED_OUT ? ACCOUNT_TIMED_OUT : ACCOUNT_FAILED;
}

int CLoginDlg::FetchCompanies(const std::string& url)
{
    std::vector<char> answer(kCompanyAnswerSize, '\0');
    if (m_request.Get(url.c_str(), answer.data(), kCompanyAnswerSize) != HTTP_RESULT_OK)
        return FailedRequest();
    size_t first = m_companies.size();
    if (int parsed = ParseCompanies(answer.data(), m_companies); parsed != ACCOUNT_OK)
        return parsed;
    auto* combo = dynamic_cast<wxComboBox*>(GetDlgItem(IDC_COMPANY));
    if (!combo)
        return ACCOUNT_OK;
    for (size_t i = first; i < m_companies.size(); ++i)
        combo->Insert(LocalToWx(Utf8ToLocal(m_companies[i].compname)), static_cast<unsigned>(i));
    combo->SetSelection(static_cast<int>(first));
    return ACCOUNT_OK;
}

int CLoginDlg::RequestLogin(const std::string& compId, const std::string& userName,
                            const std::string& password)
{
    std::string url = LoginUrl(AccountServiceEndpoint(), userName, compId, PasswordDigest(password));
    std::vector<char> answer(kLoginAnswerSize, '\0');
    if (m_request.Get(url.c_str(), answer.data(), kLoginAnswerSize) != HTTP_RESULT_OK)
        return FailedRequest();
    return ParseLoginAnswer(answer.data());
}

int CLoginDlg::SelectedCompany() const
{
    auto* combo = dynamic_cast<wxComboBox*>(GetDlgItem(IDC_COMPANY));
    int index = combo ? combo->GetSelection() : wxNOT_FOUND;
    return index >= 0 && static_cast<size_t>(index) < m_companies.size() ? index : wxNOT_FOUND;
}

void CLoginDlg::OnOK()
{
    std::string userName = GetDlgItemText(IDC_USERNAME);
    std::string password = GetDlgItemText(IDC_PASSWORD);
    if (userName.empty()) {
        AfxMessageBox(Utf8ToLocal("请输入用户名称"));
        return;
    }
    if (password.empty()) {
        AfxMessageBox(Utf8ToLocal("请输入用户密码"));
        return;
    }
    // A user name changed since its lookup (typed, then Enter without
    // leaving the field) is looked up again: never another user's company.
    int company = userName == m_strLookedUp ? SelectedCompany() : wxNOT_FOUND;
    if (company == wxNOT_FOUND) {
        if (!LookupCompanies())
            return;
        company = SelectedCompany();
    }
    if (company == wxNOT_FOUND) {
        AfxMessageBox(Utf8ToLocal("请输入正确用户名称！！！"));
        return;
    }
    m_strCompId = m_companies[company].comp_id;
    int result;
    {
        CWaitCursor busy;
        result = WithinBudget([&] { return RequestLogin(m_strCompId, userName, password); });
    }
    if (result == ACCOUNT_OK) {
        EndDialog(IDOK);
        return;
    }
    LogFailure("sign-in", userName, result);
    if (ShowServiceTrouble(result))
        return;
    MessageBox(Utf8ToLocal("用户密码出错请检查用户名称和密码"), Utf8ToLocal("用户登录提示"), MB_OK);
}
