// Runs the window tests inside a real wx application on the desktop (the
// X display ctest gives the test, else DISPLAY; scripts/test starts Xvfb).
// wx assertions fail the test.
#include <clocale>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include "framework/Desktop.h"
#include "tests/support/GuiSystem.h"

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << "wx assertion in " << func.utf8_str() << ": "
                                          << cond.utf8_str() << " " << msg.utf8_str();
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();  // the names need no display
    if (int result = 0; !PrepareTestDesktop(result))
        return result;
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
