// A real slider drag through the X server (xdotool) while the filter it drives runs.
#include <cstdio>
#include <cstdlib>
#include <wx/filename.h>
#include <wx/slider.h>

#include "app/deferred_input.h"
#include "commands/pipeline.h"
#include "gui_fixture.h"

using RealInput = GuiTest;

// A real drag of the filter-range slider while the median runs: the value the user leaves the
// slider at is the one that is filtered with, and the slider shows it.
TEST_F(RealInput, SliderDraggedDuringARunEndsAtItsLastValue)
{
    if (!have_xdotool()) GTEST_SKIP() << "xdotool not installed";
    load_phantom(512, 512);
    myframe->pages->SetSelection(1);
    choose(ID_FILTER, 3);
    choose(ID_MASK, 2);
    slide(ID_FILTER_SIZE, 3);
    myframe->Raise();
    pump_for(0.3);
    wxSlider* s = myframe->slider(ID_FILTER_SIZE);
    const wxPoint p = s->GetScreenPosition();
    const wxSize sz = s->GetSize();
    auto at = [&](int v) {
        const double f = (double)(v - s->GetMin()) / (s->GetMax() - s->GetMin());
        return std::to_string(p.x + 12 + (int)(f * (sz.x - 24))) + " " + std::to_string(p.y + sz.y / 2);
    };
    const std::string done = ::testing::TempDir() + "drag_done";
    std::remove(done.c_str());
    std::string moves = "mousemove --sync " + at(3) + " mousedown 1";
    for (int v = 4; v <= 9; v++) moves += " mousemove " + at(v) + " sleep 0.05";
    moves += " mouseup 1";
    // In the background, so that the drag meets the runs it starts.
    ASSERT_EQ(std::system(("(xdotool " + moves + "; touch " + done + ") >/dev/null 2>&1 &").c_str()), 0);
    pump_until([&] { return wxFileName::FileExists(done); }, 30.0);
    pump_until([] { return !pipeline_running() && deferred_input_count() == 0; }, 60.0);
    pump_for(0.5);
    std::remove(done.c_str());
    EXPECT_EQ(s->GetValue(), info.filter_size);
    EXPECT_GE(info.filter_size, 8);
    EXPECT_EQ(key, 0);
}
