// The canvas in a real window: what it draws, every mouse gesture and every key.
#include <algorithm>

#include "app/gl_fonts.h"
#include "gui_fixture.h"

using Canvas = GuiTest;

// Fit zoom of the 256 x 256 phantom in the 640 x 480 canvas: 480 / 256.
static const double fit = 1.875;

TEST_F(Canvas, DrawsTheImageAndTheHelpLine)
{
    EXPECT_DOUBLE_EQ(info.zoom, fit);
    int w, h;
    auto px = canvas_pixels(w, h, "canvas_phantom");
    ASSERT_EQ(std::make_pair(w, h), std::make_pair(canvas_w, canvas_h));
    // Metal insert (image 89, 128) white, air black, tissue mid grey under window 40 / 400.
    EXPECT_GT(mean_rgb(px, w, 244, 236, 252, 244), 240);
    EXPECT_LT(mean_rgb(px, w, 96, 16, 104, 24), 15);
    EXPECT_NEAR(mean_rgb(px, w, 316, 316, 324, 324), 130, 50);
    EXPECT_LT(mean_rgb(px, w, 10, 100, 60, 200), 5) << "left of the image";
    // The help line: green text along the bottom edge.
    EXPECT_GT(count_colour(px, w, 0, h - 40, w, h, 0, 255, 0, 60), 100);

    press_key(WXK_SPACE);
    EXPECT_EQ(count_colour(canvas_pixels(w, h), w, 0, h - 40, w, h, 0, 255, 0, 60), 0) << "overlay off";
    press_key(WXK_SPACE);
    EXPECT_EQ(info.overlay, 1) << "Space toggles back";
}

// A left drag draws its red box and zooms to it; a box of width 0 counts as a click.
TEST_F(Canvas, ZoomBoxIsDrawnAndZoomsToIt)
{
    mouse(wxEVT_LEFT_DOWN, 200, 150);
    mouse(wxEVT_MOTION, 440, 330);
    EXPECT_EQ(info.zoom_box, 1);
    int w, h;
    auto px = canvas_pixels(w, h, "canvas_zoom_box");
    EXPECT_GT(count_colour(px, w, 220, 146, 420, 154, 255, 0, 0, 30), 100) << "the box's top edge";
    mouse(wxEVT_LEFT_UP, 440, 330);
    // The box's midpoint (320, 240) is the old centre; zoom x min(640 / 240, 480 / 180).
    EXPECT_EQ(std::make_tuple(info.zoom_box, info.zoom_mode, info.centre.x, info.centre.y),
              std::make_tuple(0, 1, 128, 128));
    EXPECT_NEAR(info.zoom, fit * 480.0 / 180, 1e-9);
    EXPECT_TRUE(status(1).Contains(" @ [")) << "part visible";
    const double z = info.zoom;
    drag(wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 100, 100, 100, 300);
    EXPECT_DOUBLE_EQ(info.zoom, z / 2);
}

TEST_F(Canvas, MiddleButtonPans)
{
    drag(wxEVT_MIDDLE_DOWN, wxEVT_MIDDLE_UP, 320, 240, 420, 240);
    // drag_start = (320 / z, 240 / z), drag_end = (420 / z, 240 / z), truncated.
    const int dx = (int)(420 / fit) - (int)(320 / fit);
    EXPECT_EQ(std::make_tuple(info.centre.x, info.centre.y, info.panning), std::make_tuple(128 - dx, 128, 0));
    int w = canvas_w, h = canvas_h;  // the size canvas_pixels reads back
    EXPECT_GT(mean_rgb(canvas_pixels(w, h), w, 344, 236, 352, 244), 240) << "the metal insert moved right";
}

// A right-button drag re-windows the image at every step; the windowing panel's axis
// follows a window dragged beyond the file's own, so its ramp stays in view; the width
// never drops below 1.
TEST_F(Canvas, RightButtonWindowsLiveAndKeepsWidthPositive)
{
    const int R = info.data_max - info.data_min;
    int w, h;
    const std::vector<unsigned char> before = canvas_pixels(w, h);
    mouse(wxEVT_RIGHT_DOWN, 320, 240);
    mouse(wxEVT_MOTION, 420, 290);
    EXPECT_EQ(std::make_tuple(info.windowing, info.window_centre, info.window_range),
              std::make_tuple(1, 40 + 100 * R / canvas_w, 400 + 50 * R / canvas_h));
    EXPECT_EQ(status(1), wxString::Format("Windowing centre %i, width %i", info.window_centre, info.window_range));
    // The windowing panel with its yellow frame at the top left.
    auto px = canvas_pixels(w, h, "canvas_windowing");
    EXPECT_GT(count_colour(px, w, 0, 0, w / 3, h / 2, 255, 255, 0, 30), 50);
    mouse(wxEVT_MOTION, 620, 240);
    ASSERT_GT(info.window_centre - info.window_range / 2, info.default_centre + info.default_range / 2)
        << "the window lies beyond the file's window";
    px = canvas_pixels(w, h, "canvas_windowing_live");
    EXPECT_LT(mean_rgb(px, w, 280, 200, 360, 280), mean_rgb(before, w, 280, 200, 360, 280) - 20)
        << "the image itself shows the new window during the drag";
    EXPECT_GT(count_colour(px, w, 0, 0, w / 3, h / 2, 0, 204, 0, 40), 20) << "the ramp is drawn";
    mouse(wxEVT_MOTION, 420, 290);
    mouse(wxEVT_RIGHT_UP, 420, 290);
    EXPECT_EQ(std::make_pair(info.windowing, info.window_range), std::make_pair(0, 400 + 50 * R / canvas_h));

    drag(wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP, 320, 470, 320, 0);
    EXPECT_EQ(info.window_range, 1) << "dragging far up would make the width negative";
}

TEST_F(Canvas, ShiftDragDrawsAProfileLine)
{
    drag(wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 200, 240, 440, 240, true);
    EXPECT_EQ(std::make_pair(info.line_drag, info.zoom_box), std::make_pair(0, 0));
    EXPECT_EQ(std::make_tuple(info.line_start.x, info.line_end.x, info.line_start.y, info.profile_length),
              std::make_tuple((200 - 320) / fit + 128, (440 - 320) / fit + 128, 128.0, (int)(4 * (240 / fit))));
    int w, h;
    auto px = canvas_pixels(w, h, "canvas_profile");
    // The red line across the image and the profile panel's yellow frame at the top right.
    EXPECT_GT(count_colour(px, w, 210, 236, 430, 244, 255, 0, 0, 40), 150);
    EXPECT_GT(count_colour(px, w, w / 3, 0, w, h / 2, 255, 255, 0, 30), 100);

    // A line that ends where it began has no length and no profile.
    drag(wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 300, 300, 300, 300, true, false, 1);
    EXPECT_EQ(std::make_pair(info.line_start.x, info.profile_length), std::make_pair(info.line_end.x, 0));
}

TEST_F(Canvas, ProbesWithShiftAndCtrlRightButton)
{
    // The median records the samples under its mask at the probe pixel for the grid.
    choose(ID_FILTER, 3);
    choose(ID_MASK, 0);
    mouse(wxEVT_RIGHT_DOWN, 320, 240, true, false);
    ASSERT_NE(info.probe_values, nullptr);
    EXPECT_EQ(std::make_tuple(info.probe_mode, info.probe_count, info.cursor.x, info.cursor.y),
              std::make_tuple(1, 2 * info.filter_size + 1, 128, 128));
    EXPECT_EQ(info.probe_values[0], -160000) << "the corner lies outside the circle";
    EXPECT_GT(info.probe_values[info.probe_count * info.probe_count / 2], -160000);
    int w = canvas_w, h = canvas_h;
    EXPECT_GT(count_colour(canvas_pixels(w, h, "canvas_probe"), w, 310, 230, 330, 250, 255, 0, 0, 40), 4)
        << "the red square around the probe pixel";
    mouse(wxEVT_MOTION, 330, 250, true, false);
    EXPECT_EQ(info.cursor.x, (int)((330 - 320) / fit + 128 + 0.5));
    mouse(wxEVT_RIGHT_UP, 330, 250);
    EXPECT_EQ(info.probe_mode, 0);
    mouse(wxEVT_RIGHT_DOWN, 320, 240, false, true);
    EXPECT_EQ(info.probe_mode, 2);
    mouse(wxEVT_RIGHT_UP, 320, 240);
    EXPECT_EQ(info.probe_mode, 0);
    // The bitonic filter's local mask shows its window with the admitted samples.
    choose(ID_FILTER, 12);
    choose(ID_MASK, 2);
    release_array(info.probe_values);
    mouse(wxEVT_RIGHT_DOWN, 320, 240, true, false);
    ASSERT_NE(info.probe_values, nullptr);
    EXPECT_EQ(info.probe_count, 2 * info.filter_size + 1);
    mouse(wxEVT_RIGHT_UP, 320, 240);
}

TEST_F(Canvas, PlainMotionReadsThePixel)
{
    mouse(wxEVT_MOTION, 248, 240);
    const int x = (int)((248 - 320) / fit + 128 + 0.5);
    EXPECT_EQ(info.cursor.x, x);
    EXPECT_EQ(status(2), wxString::Format("Value at pixel: %i", phantom_value(x, 128, 256, 256)));
    // Off the image there is no pixel to read: the last one's value does not linger.
    mouse(wxEVT_MOTION, 5, 5);
    EXPECT_EQ(status(2), "");
}

TEST_F(Canvas, KeysToggleAndStepTheFont)
{
    EXPECT_EQ(info.font_index, 2);
    press_key('F');
    EXPECT_EQ(info.font_index, 3);
    int w, h;
    canvas_pixels(w, h);  // the repaint rebuilds GL state and the font
    ASSERT_NE(info.font, nullptr);
    EXPECT_EQ(info.font->size(), 28);
    info.font_index = 10;
    press_key('f');
    EXPECT_EQ(info.font_index, 0) << "after Cabin 96 comes Cabin 16";
    canvas_pixels(w, h);
    EXPECT_EQ(info.font->name(), "Cabin 16");
    info.font_index = 2;
    myframe->canvas->gl_ready = false;

    press_key('H');
    EXPECT_EQ(info.show_histogram, 1);
    for (int i = 0; i < info.histogram_bins; i++) info.histogram[i] = i;
    EXPECT_GT(count_colour(canvas_pixels(w, h, "canvas_histogram"), w, w / 3, 0, w, h / 2, 0, 180, 0, 40), 100)
        << "green bins";
    // Upper case sets, lower case clears (S: sorting instead of the histogram).
    const struct { int key; const uint8_t& field; int value; const char* said; } toggles[] = {
        {'h', info.show_histogram, 0, nullptr}, {'S', info.use_histogram, 0, "Using sorting"},
        {'s', info.use_histogram, 1, "Using histogram"}, {'M', info.show_ssim, 1, nullptr}, {'m', info.show_ssim, 0, nullptr}};
    for (const auto& t : toggles) {
        press_key(t.key);
        EXPECT_EQ((int)t.field, t.value) << (char)t.key;
        if (t.said) { EXPECT_EQ(status(1), t.said); }
    }
    press_key('N');
    EXPECT_EQ(status(0), "No reference image is loaded");

    // Other keys pass through and change nothing.
    const double z = info.zoom;
    press_key('Z');
    press_key(WXK_F5);
    EXPECT_EQ(std::make_pair(info.zoom, (int)info.overlay), std::make_pair(z, 1));
}

TEST_F(Canvas, GuardAndNoDataIgnoreEvents)
{
    key = 1;
    mouse(wxEVT_MOUSEWHEEL, 320, 240, false, false, -120);
    press_key(WXK_SPACE);
    EXPECT_EQ(std::make_pair(info.zoom, (int)info.overlay), std::make_pair(fit, 1));
    key = 0;
    mouse(wxEVT_MOUSEWHEEL, 320, 240, false, false, -120);
    EXPECT_NEAR(info.zoom, fit * 0.95, 1e-12) << "without the guard a notch zooms out";

    command(ID_CLOSE);
    ASSERT_EQ(info.raw_image, nullptr);
    const double z = info.zoom;
    drag(wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 100, 100, 300, 300);
    drag(wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP, 100, 100, 300, 300);
    mouse(wxEVT_MOUSEWHEEL, 320, 240, false, false, -120);
    EXPECT_EQ(std::make_tuple(info.zoom, (int)info.zoom_box, (int)info.windowing), std::make_tuple(z, 0, 0));
    int w, h;
    const auto px = canvas_pixels(w, h);
    EXPECT_EQ(std::count(px.begin(), px.end(), 0), (long)px.size()) << "a closed file leaves a black canvas without overlays";
}

TEST_F(Canvas, ResizeKeepsFitZoomAndReportsStatus)
{
    set_canvas_size(512, 400);
    EXPECT_EQ(std::make_tuple(info.window_width, info.window_height, info.zoom), std::make_tuple(512, 400, 400.0 / 256));
    pump_until([] { return !myframe->canvas->status_pending; });
    EXPECT_EQ(status(1), wxString::Format("[256,256] x %.3lf > [512,400]", 400.0 / 256));
    // With a kept zoom a resize leaves it alone.
    command(ID_ZOOM_UNITY);
    set_canvas_size(canvas_w, canvas_h);
    EXPECT_DOUBLE_EQ(info.zoom, 1.0);
    command(ID_ZOOM_FIT);
    EXPECT_DOUBLE_EQ(info.zoom, fit);
}

// Q closes the window; it runs in a suite of its own because it ends the program run.
TEST(CanvasQuit, QClosesTheWindow)
{
    ASSERT_TRUE(start_program_shown({}));
    load_phantom(64, 64);
    press_key('q');
    EXPECT_EQ(myframe, nullptr);
    EXPECT_TRUE(pump_until([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_EQ(key, 0);
}
