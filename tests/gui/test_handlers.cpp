// Control handlers driven by the controls' own events.
#include "app/deferred_input.h"
#include "app/gui_ui.h"
#include "core/ui.h"
#include "gui_fixture.h"

using Handlers = GuiTest;

// Every drag step of a slider takes effect; the interpolation choice sets its kernel.
TEST_F(Handlers, ControlsTakeEffectAsTheyMove)
{
    choose(ID_FILTER, 3);
    for (int v : {4, 5, 6, 7}) {
        slide(ID_FILTER_SIZE, v);
        EXPECT_EQ(info.filter_size, v) << "each drag step takes effect";
    }
    choose(ID_INTERP, 4);
    EXPECT_DOUBLE_EQ(info.cubic_coeffs[0], 1.5) << "Catmull-Rom: P1 = 1.5t^3 - 2.5t^2 + 1";
}

// The threshold slider reports its source value. A metal slider held previews its HU value as
// the threshold, in display levels of the window 40 / 400; the release repeats the position,
// ends the preview and gives the threshold slider's value back.
TEST_F(Handlers, ThresholdAndMetalSlidersPreviewAndReleaseEndsIt)
{
    slide(ID_THRESHOLD, 30);
    EXPECT_EQ(info.threshold, 30);
    EXPECT_EQ(status(1), wxString::Format("Threshold is currently at %.0f", (30 - 127) * 400.0 / 255 + 40));
    tick(ID_SHOW_THRESHOLD, false);
    const struct { int id, hu, threshold; } previews[] = {
        {ID_METAL_BACK, 100, 165},  // (100 - 40) x 255 / 400 + 127 = 165.25
        {ID_METAL_METAL, 1400, 255}, {ID_METAL_AIR, -900, 0},  // clamped
        {ID_METAL_RANGE, 40, 190}};  // background + range: 140 HU
    for (const auto& p : previews) {
        SCOPED_TRACE(p.id);
        slide(p.id, p.hu);
        EXPECT_EQ(std::make_pair((int)info.show_threshold, info.threshold), std::make_pair(1, p.threshold));
        slide(p.id, p.hu, wxEVT_SCROLL_THUMBRELEASE);
        EXPECT_EQ(std::make_pair((int)info.show_threshold, info.threshold), std::make_pair(0, 30));
    }
    EXPECT_EQ(std::make_pair(info.metal_background, info.metal_range), std::make_pair(100, 40));
}

static int yields = 0, subsample_during = 0, size_during = 0, held_during = 0;

// Stands in for the event loop during a filter's yield: a user moves the sub-sample and
// filter-size sliders while the median runs.
static void yield_with_input()
{
    if (yields++ != 0) return;
    slide(ID_SUBSAMPLE, 2);
    slide(ID_FILTER_SIZE, 4);
    subsample_during = info.subsample, size_during = info.filter_size, held_during = deferred_input_count();
}

// Input during a run is held back, not applied to the arrays in use nor lost to the
// run's restore of its parameters, and takes effect once the run has ended.
TEST_F(Handlers, InputDuringAFilterRunWaitsForItsEnd)
{
    load_phantom(1024, 1024);
    choose(ID_FILTER, 3);
    choose(ID_MASK, MASK_LOCAL);  // the slowest median: at size 7 the run yields
    ui_hooks hooks;
    hooks.yield = yield_with_input;
    ui_install(hooks);
    yields = 0;
    slide(ID_FILTER_SIZE, 7);
    gui_install_ui_hooks();
    EXPECT_GE(yields, 1);
    // Not applied while the run used the arrays: sub-sample 1, size 7, two inputs held.
    EXPECT_EQ(std::make_tuple(subsample_during, size_during, held_during), std::make_tuple(1, 7, 2));
    pump_until([] { return deferred_input_count() == 0; }, 10.0);
    EXPECT_EQ(std::make_tuple(info.subsample, info.filter_size, info.proc_width, info.proc_height),
              std::make_tuple(2, 4, 512, 512)) << "sub-sampling re-sampled";
}
