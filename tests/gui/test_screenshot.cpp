// The picture for the README: the phantom with a profile line and the histogram.
#include <gtest/gtest.h>

#include <wx/choice.h>

#include "app/main_frame.h"
#include "app/record.h"
#include "display/gl_canvas.h"
#include "gui_data.h"
#include "gui_harness.h"

TEST(Screenshot, PhantomWithProfileAndHistogram)
{
    ASSERT_TRUE(start_program({}));
    ASSERT_TRUE(pump_until([] { return myframe->IsShownOnScreen(); }));
    load_phantom(512, 512);
    // The size start-up gives a 512 x 512 image.
    myframe->SetClientSize(220 + 512 + 70, 512 + 82);
    myframe->splitter->SetSashPosition(512);
    pump_for(0.3);
    info.line_start = vertex2d(60, 200);
    info.line_end = vertex2d(450, 300);
    info.profile_length = 4 * 402;
    delete[] info.line_profile;
    info.line_profile = new double[4 * info.profile_length]();
    delete[] info.projection_line;
    info.projection_line = new double[info.profile_length]();
    info.show_histogram = 1;
    for (int i = 0; i < info.histogram_bins; i++) info.histogram[i] = (i * 37) % 200;
    myframe->canvas->Refresh(false);
    pump_for(0.5);
    int w, h;
    canvas_pixels(w, h, "shot_canvas");
    save_window_shot(VOXMIRA_BUILD_DIR "/shot_window.png");
    // Each control page, with the bitonic filter so that every Process row shows.
    myframe->choice(ID_FILTER)->SetSelection(12);
    wxCommandEvent choose_filter(wxEVT_CHOICE, ID_FILTER);
    choose_filter.SetInt(12);
    myframe->GetEventHandler()->ProcessEvent(choose_filter);
    for (int p = 0; p < 4; p++) {
        myframe->pages->SetSelection(p);
        pump_for(0.3);
        save_window_shot(std::string(VOXMIRA_BUILD_DIR "/shot_page") + std::to_string(p) + ".png");
    }
    myframe->Close(true);
    pump_until([] { return myframe == nullptr; });
}
