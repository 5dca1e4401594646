// Runs the window tests inside a real wx application on the desktop (POSIX:
// the X display given by DISPLAY; scripts/test starts Xvfb). wx assertions
// fail the test.
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include "framework/Desktop.h"

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << "wx assertion in " << func.utf8_str() << ": "
                                          << cond.utf8_str() << " " << msg.utf8_str();
}

// ctest with a resource spec (scripts/test) gives each window test a
// display of its own: "id:91,slots:1" stands for the X display ":91".
void UseGivenDisplay()
{
    const char* given = std::getenv("CTEST_RESOURCE_GROUP_0_DISPLAYS");
    if (!given || std::strncmp(given, "id:", 3) != 0)
        return;
    std::string id(given + 3);
    setenv("DISPLAY", (":" + id.substr(0, id.find(','))).c_str(), 1);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    UseGivenDisplay();
    if (!PrepareDesktop(argv[0]))
        return 1;  // no X display: scripts/test starts Xvfb
    std::setlocale(LC_ALL, "");
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit())
        return 1;
    wxSetAssertHandler(FailOnAssert);
    int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
