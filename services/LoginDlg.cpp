#include "services/LoginDlg.h"

#include <wx/combobox.h>

#include "common/Utf8ToLocal.h"
#include "framework/LocalText.h"
#include "framework/MessageBox.h"
#include "framework/WaitCursor.h"
#include "res/resource.h"

CLoginDlg::CLoginDlg() : CDialog(IDD_LOGIN_DIALOG)
{
    m_request.m_nTimeLimitMs = kServiceTimeLimitMs;
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
    {
        CWaitCursor busy;
        RetryWhileFailed([&] { return FetchCompanies(url); });
    }
    bool reached = !ShowUnreachable();
    m_bLookingUp = false;
    return reached;
}

// After the retries of a request: when the service was not reached at all,
// the operator is told so (instead of a prompt about what was typed).
bool CLoginDlg::ShowUnreachable()
{
    if (!IsNoConnection(m_request.m_nFailure))
        return false;
    AfxMessageBox(Utf8ToLocal(UnreachableText(AccountServiceEndpoint())));
    return true;
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
    if (ParseCompanies(answer.data(), m_companies) != ACCOUNT_OK)
        return ACCOUNT_UNUSABLE;
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
        result = RetryWhileFailed([&] { return RequestLogin(m_strCompId, userName, password); });
    }
    if (result == ACCOUNT_OK) {
        EndDialog(IDOK);
        return;
    }
    if (ShowUnreachable())
        return;
    MessageBox(Utf8ToLocal("用户密码出错请检查用户名称和密码"), Utf8ToLocal("用户登录提示"), MB_OK);
}
