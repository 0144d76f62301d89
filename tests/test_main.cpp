// Unit-test entry: wx base and the image handlers are initialised once, without a display.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer wx_init;
    if (!wx_init.IsOk()) return 1;
    wxInitAllImageHandlers();
    // Warnings from loaders go to stderr rather than a dialog.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    return RUN_ALL_TESTS();
}
