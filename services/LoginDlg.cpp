#include "services/LoginDlg.h"

#include <wx/combobox.h>

#include "common/Utf8ToLocal.h"
#include "framework/LocalText.h"
#include "framework/MessageBox.h"
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

void CLoginDlg::LookupCompanies()
{
    std::string userName = GetDlgItemText(IDC_USERNAME);
    if (userName.empty())
        return;
    m_companies.clear();
    if (auto* combo = dynamic_cast<wxComboBox*>(GetDlgItem(IDC_COMPANY)))
        combo->Clear();
    std::string url = CompanyLookupUrl(AccountServiceEndpoint(), userName);
    RetryWhileFailed([&] { return FetchCompanies(url); });
}

int CLoginDlg::FetchCompanies(const std::string& url)
{
    std::vector<char> answer(kCompanyAnswerSize, '\0');
    if (m_request.Get(url.c_str(), answer.data(), kCompanyAnswerSize) != HTTP_RESULT_OK)
        return ACCOUNT_FAILED;
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
        return ACCOUNT_FAILED;
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
    int company = SelectedCompany();
    if (company == wxNOT_FOUND) {
        LookupCompanies();
        company = SelectedCompany();
    }
    if (company == wxNOT_FOUND) {
        AfxMessageBox(Utf8ToLocal("请输入正确用户名称！！！"));
        return;
    }
    m_strCompId = m_companies[company].comp_id;
    int result = RetryWhileFailed([&] { return RequestLogin(m_strCompId, userName, password); });
    if (result == ACCOUNT_OK) {
        EndDialog(IDOK);
        return;
    }
    MessageBox(Utf8ToLocal("用户密码出错请检查用户名称和密码"), Utf8ToLocal("用户登录提示"), MB_OK);
}
