// Escape (a real key) stops a long filtering of the view; the picture stays, the status says so.
#include <cstdlib>

#include "app/deferred_input.h"
#include "commands/pipeline.h"
#include "gui_fixture.h"

using CancelRun = GuiTest;

TEST_F(CancelRun, EscapeStopsALongFilteringAndThePictureStays)
{
    ASSERT_TRUE(have_xdotool());
    // The median with the local mask at size 12 on a 1024 x 1024 picture runs for seconds.
    load_phantom(1024, 1024);
    myframe->pages->SetSelection(1);
    choose(ID_FILTER, 3);
    choose(ID_MASK, 2);
    slide(ID_FILTER_SIZE, 1);
    const size_t n = (size_t)info.proc_width * info.proc_height;
    const std::vector<int> before(info.processed_image, info.processed_image + n);
    myframe->Raise();
    myframe->canvas->SetFocus();
    pump_for(0.3);

    ASSERT_EQ(std::system("(sleep 1.2; xdotool key Escape) >/dev/null 2>&1 &"), 0);
    slide(ID_FILTER_SIZE, 12);  // returns when the run has ended
    EXPECT_EQ(status(2), "Filtering cancelled");
    EXPECT_EQ(std::vector<int>(info.processed_image, info.processed_image + n), before);
    EXPECT_TRUE(!pipeline_running() && deferred_input_count() == 0) << "Escape is taken, not held for later";

    // The next value filters as usual.
    slide(ID_FILTER_SIZE, 2);
    EXPECT_TRUE(status(2).StartsWith("Filtering took"));
    EXPECT_NE(std::vector<int>(info.processed_image, info.processed_image + n), before);

    // The slider's release at the value being filtered (sent while the run yields) lets it end.
    wxTheApp->CallAfter([] { slide(ID_FILTER_SIZE, 6, wxEVT_SCROLL_THUMBRELEASE); });
    slide(ID_FILTER_SIZE, 6);
    pump_until([] { return !pipeline_running() && deferred_input_count() == 0; });
    EXPECT_TRUE(status(2).StartsWith("Filtering took")) << status(2);
}
