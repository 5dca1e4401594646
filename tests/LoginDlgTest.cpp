#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <wx/combobox.h>

#include "common/Trace.h"
#include "demo/DemoData.h"
#include "demo/DemoServices.h"
#include "res/resource.h"
#include "services/AccountApi.h"
#include "services/LoginDlg.h"
#include "tests/support/Environment.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LocaleScope.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

namespace {

const char* kPasswordMessage = "用户密码出错请检查用户名称和密码";

bool IsLogin(const SeenRequest& r)
{
    return r.target.rfind("/orbapi/api/login?", 0) == 0;
}

bool IsLookup(const SeenRequest& r)
{
    return r.target.rfind("/orbapi/api/getwwwcompinfo?", 0) == 0;
}

class LoginDlgTest : public ::testing::Test {
protected:
    void TearDown() override { UnsetEnv("QUORVEL_ACCOUNT_HOST"); }

    // Serves the demo account service.
    void UseDemo()
    {
        MountDemoServices(m_server.Routes());
        Serve();
    }

    // Serves a lookup with two companies and the given login answer.
    void UseScript(int loginStatus, const std::string& loginBody)
    {
        m_server.Routes().Get("/orbapi/api/getwwwcompinfo", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"([{"comp_id":"c-1","compname":"第一公司","role_id":"1"},
                               {"comp_id":"c-2","compname":"第二公司","role_id":"1"}])", "application/json");
        });
        m_server.Routes().Get("/orbapi/api/login", [=](const httplib::Request&, httplib::Response& res) {
            res.status = loginStatus;
            res.set_content(loginBody, "application/json");
        });
        Serve();
    }

    void Serve()
    {
        m_server.Start();
        SetEnv("QUORVEL_ACCOUNT_HOST", m_server.HostPort().c_str());
    }

    // Types the fields, leaves the user name, presses "登录".
    int SignIn(const std::string& user, const std::string& password)
    {
        return RunModal(m_dialog, [&] {
            TypeInto(m_dialog, IDC_USERNAME, user);
            TypeInto(m_dialog, IDC_PASSWORD, password);
            LeaveControl(m_dialog, IDC_USERNAME);
            m_dialog.SendCommand(IDOK);
        });
    }

    size_t Count(bool (*kind)(const SeenRequest&)) const
    {
        size_t n = 0;
        for (const SeenRequest& r : m_server.Requests())
            n += kind(r) ? 1 : 0;
        return n;
    }

    LoopbackServer m_server;
    CLoginDlg m_dialog;
    MessageBoxRecorder m_boxes;
};

TEST_F(LoginDlgTest, LeavingTheUserNameLooksUpCompaniesAndSelectsTheFirst)
{
    UseDemo();
    ASSERT_TRUE(m_dialog.Create());
    LeaveControl(m_dialog, IDC_USERNAME);
    EXPECT_EQ(m_server.RequestCount(), 0u) << "an empty user name is never looked up";

    TypeInto(m_dialog, IDC_USERNAME, kDemoUser);
    LeaveControl(m_dialog, IDC_USERNAME);
    ASSERT_EQ(m_server.RequestCount(), 1u);
    EXPECT_EQ(m_server.Requests()[0].target,
              std::string("/orbapi/api/getwwwcompinfo?username=") + kDemoUser);
    auto* combo = dynamic_cast<wxComboBox*>(m_dialog.GetDlgItem(IDC_COMPANY));
    ASSERT_EQ(combo->GetCount(), 2u);
    EXPECT_EQ(combo->GetString(0).utf8_string(), "Quorvel示范会展中心");
    EXPECT_EQ(combo->GetSelection(), 0);
    EXPECT_FALSE(combo->IsShown());

    // Leaving it again replaces the list instead of adding to it.
    LeaveControl(m_dialog, IDC_USERNAME);
    EXPECT_EQ(combo->GetCount(), 2u);
    EXPECT_EQ(m_dialog.m_companies.size(), 2u);
    m_dialog.DestroyWindow();
}

// The user name changed after its lookup and "登录" pressed without leaving
// the field: the new name is looked up first, never signed in with the
// previous user's company.
TEST_F(LoginDlgTest, AUserNameChangedSinceItsLookupIsLookedUpAgain)
{
    m_server.Routes().Get("/orbapi/api/getwwwcompinfo", [](const httplib::Request& req, httplib::Response& res) {
        std::string user = req.get_param_value("username");
        res.set_content(R"([{"comp_id":"c-)" + user + R"(","compname":"公司","role_id":"1"}])", "application/json");
    });
    m_server.Routes().Get("/orbapi/api/login", [](const httplib::Request& req, httplib::Response& res) {
        bool own = req.get_param_value("comp_id") == "c-" + req.get_param_value("user_id");
        res.set_content(own ? R"({"result":"0"})" : R"({"result":"1"})", "application/json");
    });
    Serve();
    int result = RunModal(m_dialog, [&] {
        TypeInto(m_dialog, IDC_USERNAME, "first");
        LeaveControl(m_dialog, IDC_USERNAME);
        TypeInto(m_dialog, IDC_USERNAME, "second");
        TypeInto(m_dialog, IDC_PASSWORD, "secret");
        m_dialog.SendCommand(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(m_dialog.GetCompId(), "c-second");
    EXPECT_EQ(Count(IsLookup), 2u);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(LoginDlgTest, TheDemoUserSignsInWithTheFirstCompany)
{
    UseDemo();
    EXPECT_EQ(SignIn(kDemoUser, kDemoPassword), IDOK);
    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_EQ(m_dialog.GetCompId(), "qv-1001");
    std::vector<SeenRequest> seen = m_server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].target, std::string("/orbapi/api/login?user_id=") + kDemoUser +
                                  "&comp_id=qv-1001&password=" + PasswordDigest(kDemoPassword));
}

TEST_F(LoginDlgTest, AWrongPasswordShowsTheMessageAfterOneAttempt)
{
    UseDemo();
    EXPECT_EQ(SignIn(kDemoUser, "wrong"), kStillOpen);  // for another try
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, kPasswordMessage);
    EXPECT_EQ(m_boxes.boxes[0].caption, "用户登录提示");
    EXPECT_EQ(Count(IsLogin), 1u);
}

TEST_F(LoginDlgTest, ResultZeroAsNumberSignsIn)
{
    UseScript(200, R"({"result":0})");
    EXPECT_EQ(SignIn("op", "pw"), IDOK);
    EXPECT_EQ(m_dialog.GetCompId(), "c-1");
}

TEST_F(LoginDlgTest, ResultZeroAsTextSignsIn)
{
    UseScript(200, R"({"result":"0"})");
    EXPECT_EQ(SignIn("op", "pw"), IDOK);
}

class RefusedLoginTest : public LoginDlgTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedLoginTest, ShowsThePasswordMessageAfterOneAttempt)
{
    UseScript(200, GetParam());
    EXPECT_EQ(SignIn("op", "pw"), kStillOpen);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, kPasswordMessage);
    EXPECT_EQ(Count(IsLogin), 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, RefusedLoginTest,
                         ::testing::Values(R"({"result":"1"})", R"({"msg":"no result"})"),
                         [](const auto& info) { return info.index == 0 ? "resultOne" : "noResult"; });

// A service that answers with an error status (tried six times) or with a
// page it never sends is named; the operator's password is not blamed.
TEST_F(LoginDlgTest, AServiceThatAnswersWronglyIsNamedNotTheOperator)
{
    UseScript(500, "");
    EXPECT_EQ(SignIn("op", "pw"), kStillOpen);
    EXPECT_EQ(Count(IsLogin), 6u);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, "服务器 " + m_server.HostPort() + " 应答出错，请稍后再试");
}

TEST_F(LoginDlgTest, APageInsteadOfTheLoginAnswerIsNamedNotTheOperator)
{
    UseScript(200, "<html>busy</html>");
    EXPECT_EQ(SignIn("op", "pw"), kStillOpen);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, "服务器 " + m_server.HostPort() + " 应答出错，请稍后再试");
}

// A service that sends its headers and then stalls: each operator action
// waits at most the budget (one try, since a timeout ends the tries), and
// the operator is told the service cannot be reached, never blamed.
TEST_F(LoginDlgTest, AServiceStalledAfterItsHeadersCostsOneBudgetPerAction)
{
    m_server.Routes().Get("/orbapi/api/getwwwcompinfo", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/json", [](size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3000));
            sink.done();
            return true;
        });
    });
    Serve();
    m_dialog.m_nBudgetMs = 500;  // stands in for the 20 s budget
    auto began = std::chrono::steady_clock::now();
    SignIn("op", "pw");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5)) << "more than one budget per action";
    EXPECT_EQ(Count(IsLookup), 2u) << "the leave and the press, once each";
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    for (const auto& box : m_boxes.boxes)
        EXPECT_EQ(box.text, "无法连接服务器 " + m_server.HostPort());
}

TEST_F(LoginDlgTest, ALoginServiceGoneAfterTheLookupSaysItCannotConnect)
{
    UseScript(200, R"({"result":0})");
    RefusingPort refusing;
    std::string closed = refusing.HostPort();
    int result = RunModal(m_dialog, [&] {
        TypeInto(m_dialog, IDC_USERNAME, "op");
        TypeInto(m_dialog, IDC_PASSWORD, "pw");
        LeaveControl(m_dialog, IDC_USERNAME);
        SetEnv("QUORVEL_ACCOUNT_HOST", closed.c_str());
        m_dialog.SendCommand(IDOK);
    });
    EXPECT_EQ(result, kStillOpen);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, "无法连接服务器 " + closed);
    EXPECT_EQ(Count(IsLogin), 0u);
}

// A lookup on leaving the field, then "登录" (which looks up again): each
// against an account service that takes the connection and never answers.
TEST_F(LoginDlgTest, ASilentServiceIsAskedOncePerActionAndSaysItCannotConnect)
{
    SilentListener silent;
    SetEnv("QUORVEL_ACCOUNT_HOST", silent.HostPort().c_str());
    m_dialog.m_nBudgetMs = 300;  // stands in for the 20 s limit
    SignIn("op", "pw");
    EXPECT_EQ(silent.Connections(), 2) << "a request that timed out is not tried again";
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    for (const auto& box : m_boxes.boxes)
        EXPECT_EQ(box.text, "无法连接服务器 " + silent.HostPort());
}

TEST_F(LoginDlgTest, EmptyFieldsNeverReachTheService)
{
    UseDemo();
    SignIn("", "pw");
    SignIn(kDemoUser, "");
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    EXPECT_EQ(m_boxes.boxes[0].text, "请输入用户名称");
    EXPECT_EQ(m_boxes.boxes[1].text, "请输入用户密码");
    EXPECT_EQ(m_boxes.boxes[1].caption, "gui_tests");  // the application's name
    EXPECT_EQ(Count(IsLogin), 0u);
    for (const SeenRequest& r : m_server.Requests())
        EXPECT_NE(r.target, "/orbapi/api/getwwwcompinfo?username=");
}

TEST_F(LoginDlgTest, AnUnknownUserLooksUpAgainThenAsksForACorrectName)
{
    UseDemo();
    EXPECT_EQ(SignIn("nobody@venue.cn", "pw"), kStillOpen);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].text, "请输入正确用户名称！！！");
    EXPECT_EQ(Count(IsLookup), 2u);
    EXPECT_EQ(Count(IsLogin), 0u);
}

TEST_F(LoginDlgTest, AChineseUserNameIsSentAsGbkBytesUnderAGbkLocale)
{
    USE_LOCALE(gbk, TestLocale::Gbk);
    UseScript(200, R"({"result":0})");
    EXPECT_EQ(SignIn("张三", "密码"), IDOK);
    std::vector<SeenRequest> seen = m_server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].target, "/orbapi/api/getwwwcompinfo?username=\xD5\xC5\xC8\xFD");
    EXPECT_EQ(seen[1].target, "/orbapi/api/login?user_id=\xD5\xC5\xC8\xFD&comp_id=c-1&password=" +
                                  PasswordDigest("\xC3\xDC\xC2\xEB"));
}

// For support, a refused sign-in leaves a line naming the account and the
// host, the typed name in UTF-8 (POSIX: typed under GBK here); neither the
// password nor its digest ever reaches the log.
TEST_F(LoginDlgTest, ARefusedSignInIsLoggedWithTheHostButNeverThePassword)
{
    LocaleScope gbk(TestLocale::Gbk);
    ASSERT_TRUE(gbk.ok() || gbk.unavailable());
    TempDir logs;
    StartClientLog(logs.Path());
    UseScript(200, R"({"result":"1"})");
    EXPECT_EQ(SignIn("张三", "密码pw9x"), kStillOpen);
    StopClientLog();
    std::string log = ReadWholeFile(logs / "quorvel-client.log");
    EXPECT_NE(log.find(" sign-in as 张三 failed: refused or empty answer; " + m_server.HostPort() + ": status 200\n"),
              std::string::npos) << log;
    for (const std::string& secret :
         {std::string("pw9x"), PasswordDigest("密码pw9x"), PasswordDigest("\xC3\xDC\xC2\xEB" "pw9x")})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in\n" << log;
}

}  // namespace
