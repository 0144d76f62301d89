// What the mouse does to the view and what the status bar says, against values worked out by
// hand for a 200 x 100 image in a 200 x 100 window (the windowing drag: on the real canvas).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../processing/pipeline_fixture.h"
#include "commands/pipeline.h"
#include "display/status_texts.h"
#include "display/view_arithmetic.h"

namespace {

class View : public ::testing::Test {
protected:
    void SetUp() override
    {
        install_image(200, 100, 0, 1, std::vector<int>(200 * 100, 40 * 16));
        info.data_min = 0;
        info.data_max = 1000;
    }
    void TearDown() override { reset_info(); }
    static vertex2s at(int x, int y) { return vertex2s{(short)x, (short)y}; }
    static std::pair<int, int> centre() { return {info.centre.x, info.centre.y}; }
};

}  // namespace

TEST_F(View, ZoomBoxWheelAndPan)
{
    // A box over the middle half fills the window: zoom 2 about its middle.
    info.drag_start = at(50, 25);
    finish_zoom_box(at(150, 75));
    EXPECT_DOUBLE_EQ(info.zoom, 2.0);
    EXPECT_EQ(centre(), std::make_pair(100, 50));
    EXPECT_EQ(zoom_crop_text(), "[200,100] @ [50,25:100,50] x 2.000 > [200,100]");
    // A box in a corner re-centres; the tighter direction decides (100 / 20 = 5 < 200 / 20).
    info.drag_start = at(0, 0);
    finish_zoom_box(at(20, 20));
    EXPECT_DOUBLE_EQ(info.zoom, 10.0);
    EXPECT_EQ(centre(), std::make_pair(55, 30));  // window (10, 10) at zoom 2 about (100, 50)
    // A click halves; repeated clicks stop at a thousandth.
    info.drag_start = at(7, 7);
    finish_zoom_box(at(7, 7));
    EXPECT_DOUBLE_EQ(info.zoom, 5.0);
    for (int i = 0; i < 40; i++) finish_zoom_box(at(7, 7));
    EXPECT_DOUBLE_EQ(info.zoom, 1e-3);

    // One notch towards the user zooms out by 1/20, away zooms in by the inverse.
    info.zoom = 1.0;
    EXPECT_FALSE(wheel_zoom(0, 120));
    EXPECT_TRUE(wheel_zoom(-120, 120));
    EXPECT_DOUBLE_EQ(info.zoom, 0.95);
    EXPECT_TRUE(wheel_zoom(120, 120));
    EXPECT_DOUBLE_EQ(info.zoom, 0.95 / 0.95);
    EXPECT_TRUE(wheel_zoom(-1000000, 1));  // a huge step neither zeroes nor flips it
    EXPECT_DOUBLE_EQ(info.zoom, 1e-3);

    // Panning at zoom 2: dragging 20 window pixels right moves the centre 10 image pixels left.
    info.zoom = 2.0;
    info.centre = at(100, 50);
    start_pan(at(10, 10));
    apply_pan_drag(at(30, 10));
    EXPECT_EQ(centre(), std::make_pair(90, 50));
    apply_pan_drag(at(10, 30));  // the drag is measured from the press, not the last move
    EXPECT_EQ(centre(), std::make_pair(100, 40));
}

TEST_F(View, ProfileLineFollowsTheDragAndStaysOnTheImage)
{
    // The 200 x 100 image fills the window 1:1; the line starts at (10, 10) unless stated.
    const struct {
        double sx, sy, px, py, ex, ey;
        int length;
    } cases[] = {
        {10, 10, 13, 14, 13, 14, 20},       // 4 samples per pixel of a 5-pixel line
        {10, 10, 410, 10, 199, 10, 756},    // stops at the right edge, on its row
        {10, 10, -90, 210, 0, 30, 89},      // meets the left edge before the bottom
        {-5, 120, 30, 99, 30, 99, 120},     // a start off the image moves to (0, 99)
    };
    for (const auto& c : cases) {
        info.line_start = vertex2d(c.sx, c.sy);
        set_profile_end(vertex2d(c.px, c.py));
        EXPECT_NEAR(info.line_end.x, c.ex, 1e-9) << c.px << "," << c.py;
        EXPECT_NEAR(info.line_end.y, c.ey, 1e-9) << c.px << "," << c.py;
        EXPECT_EQ(info.profile_length, c.length) << c.px << "," << c.py;
    }
    info.line_profile[4 * 120 - 1] = info.projection_line[119] = 1;  // the buffers hold that many
    info.zoom = 1e-5;
    info.line_start = vertex2d(10, 10);
    set_profile_end(vertex2d(0, 0));  // across a deep zoom-out the line still ends on the image
    EXPECT_NEAR(info.line_end.x, 0, 1e-9);
    EXPECT_LE(info.profile_length, 4 * std::hypot(200, 100));
}

// RGB data processed in RGB: the channel values; one channel when one is chosen (grey data
// and the cursor off the image: on the real canvas).
TEST_F(View, ColourPixelReadOut)
{
    std::vector<int> rgb(4 * 2 * 3);
    for (size_t i = 0; i < rgb.size(); i++) rgb[i] = (int)(10 + i) * 16;
    install_image(4, 2, 1, 3, rgb);
    sample_image();
    process_image();
    info.cursor = at(1, 0);
    EXPECT_EQ(colour_readout_text(), "RGB at pixel: [13,14,15]");
    info.channel = 2;
    EXPECT_EQ(colour_readout_text(), "Green at pixel: 14");
}
