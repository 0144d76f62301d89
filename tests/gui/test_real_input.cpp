// Real input through the X server (xdotool): the toolkit's own mouse and key events reach
// the canvas handlers, focus included.
#include "gui_fixture.h"

using RealInput = GuiTest;

TEST_F(RealInput, ClickZoomsOutAndKeysReachTheCanvas)
{
    if (!have_xdotool()) GTEST_SKIP() << "xdotool not installed";
    myframe->Raise();
    pump_for(0.2);
    const double z = info.zoom;
    ASSERT_TRUE(xdo("mousemove --sync " + canvas_at(320, 240) + " click 1"));
    EXPECT_TRUE(pump_until([&] { return info.zoom == z / 2; }, 3.0)) << "a click halves the zoom";
    EXPECT_TRUE(pump_until([] { return myframe->canvas->HasFocus(); }, 2.0));

    ASSERT_TRUE(xdo("key h"));
    EXPECT_TRUE(pump_until([] { return info.show_histogram == 1; }, 3.0));
    ASSERT_TRUE(xdo("key h"));
    EXPECT_TRUE(pump_until([] { return info.show_histogram == 0; }, 3.0));

    // A real right-button drag windows the image.
    const int centre = info.window_centre;
    ASSERT_TRUE(xdo("mousemove --sync " + canvas_at(300, 200) + " mousedown 3 mousemove --sync " +
                    canvas_at(400, 200) + " mouseup 3"));
    EXPECT_TRUE(pump_until([&] { return info.window_centre > centre && !info.windowing; }, 3.0));
    EXPECT_EQ(key, 0);
}
