// Start-up with no file: the title, a black canvas, and a clean close.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/toplevel.h>

#include "app/main_frame.h"
#include "core/record.h"
#include "app/gl_canvas.h"
#include "gui_harness.h"

TEST(Startup, NoFileOpensBlackWindowAndClosesCleanly)
{
    ASSERT_TRUE(start_program({}));
    ASSERT_NE(myframe, nullptr);
    ASSERT_TRUE(pump_until([] { return myframe->IsShownOnScreen(); }));
    pump_for(0.3);

    EXPECT_EQ(myframe->GetTitle(), "Voxmira v2.62");
    EXPECT_TRUE(info.file_name.empty());
    EXPECT_EQ(info.raw_image, nullptr);

    int w = 0, h = 0;
    const std::vector<unsigned char> pixels = myframe->canvas->read_pixels(w, h);
    ASSERT_GT(w, 0);
    ASSERT_GT(h, 0);
    size_t lit = 0;
    for (unsigned char p : pixels) lit += p != 0;
    EXPECT_EQ(lit, 0u) << "the canvas should be black without data";
    wxImage((int)w, (int)h, const_cast<unsigned char*>(pixels.data()), true)
        .SaveFile(VOXMIRA_BUILD_DIR "/startup_canvas.png", wxBITMAP_TYPE_PNG);

    // The window's close event ends the program: the frame goes and no window is left.
    wxCloseEvent close(wxEVT_CLOSE_WINDOW, myframe->GetId());
    close.SetEventObject(myframe);
    close.SetCanVeto(true);
    myframe->GetEventHandler()->ProcessEvent(close);
    EXPECT_EQ(myframe, nullptr);
    EXPECT_TRUE(pump_until([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_EQ(info.histogram, nullptr);
    EXPECT_EQ(key, 0);
}

TEST(Startup, BatchSwitchRunsTheAllFramesStepAndEnds)
{
    // With and without a loadable file, -m/-M ends start-up with false and leaves no window.
    for (const std::vector<wxString>& args :
         {std::vector<wxString>{"-m"},
          std::vector<wxString>{"-M", VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0001.dcm"}}) {
        EXPECT_FALSE(start_program(args));
        EXPECT_EQ(myframe, nullptr);
        EXPECT_TRUE(pump_until([] { return wxTopLevelWindows.IsEmpty(); }));
        EXPECT_EQ(info.raw_image, nullptr);
        EXPECT_EQ(key, 0);
    }
}
