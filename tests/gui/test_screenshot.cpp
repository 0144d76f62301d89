// The picture for the README (build/shot_window.png, copied to docs/screenshot.png): a
// slice of the bundled CT series (or the synthetic phantom without it) with a profile line
// drawn by a Shift-drag and the histogram shown; and each control page.
#include <algorithm>

#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/filename.h>

#include "app/main_frame.h"
#include "core/record.h"
#include "display/display_image.h"
#include "app/gl_canvas.h"
#include "gui_data.h"
#include "gui_events.h"
#include "gui_harness.h"

TEST(Screenshot, SliceWithProfileAndHistogram)
{
    const wxString sample = VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0006.dcm";
    const bool have_sample = wxFileName::FileExists(sample);
    ASSERT_TRUE(start_program(have_sample ? std::vector<wxString>{sample}
                                          : std::vector<wxString>{}));
    ASSERT_TRUE(pump_until([] { return myframe->IsShownOnScreen(); }));
    if (!have_sample) load_phantom(256, 256);
    myframe->splitter->SetSashPosition(620);
    set_canvas_size(620, 560);

    // A profile through both metal inserts, drawn as a user would.
    drag(wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 160, 287, 460, 287, true);
    press_key('H');
    // Until the residual-histogram estimator is in the build the pipeline leaves the
    // histogram empty; the picture then shows the slice's grey-level histogram instead.
    if (std::all_of(info.histogram, info.histogram + info.histogram_bins,
                    [](int c) { return c == 0; }))
        for (int i = 0; i < info.width * info.height; i++) {
            const int v = info.raw_image[i] / 16;
            if (v >= 0 && v < info.histogram_bins) info.histogram[v]++;
        }
    mouse(wxEVT_MOTION, 330, 300);
    myframe->canvas->Refresh(false);
    pump_for(0.5);
    int w, h;
    canvas_pixels(w, h, "shot_canvas");
    save_window_shot(VOXMIRA_BUILD_DIR "/shot_window.png");

    // Each control page, with the bitonic filter so that every Process row shows.
    choose(ID_FILTER, 12);
    for (int p = 0; p < 4; p++) {
        myframe->pages->SetSelection(p);
        pump_for(0.3);
        save_window_shot(std::string(VOXMIRA_BUILD_DIR "/shot_page") + std::to_string(p) + ".png");
    }
    close_program();
}
