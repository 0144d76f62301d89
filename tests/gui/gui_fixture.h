// A test suite shares one program run: the window opens once per suite with a canvas of
// 640 x 480 pixels, and every test starts from a freshly loaded phantom.
#pragma once

#include <gtest/gtest.h>

#include "app/gl_canvas.h"
#include "app/main_frame.h"
#include "core/record.h"
#include "gui_data.h"
#include "gui_events.h"
#include "gui_harness.h"

class GuiTest : public ::testing::Test {
public:
    static constexpr int canvas_w = 640, canvas_h = 480;

    static void SetUpTestSuite()
    {
        ASSERT_TRUE(start_program_shown({}));
        set_canvas_size(canvas_w, canvas_h);
    }
    static void TearDownTestSuite() { close_program(); }

protected:
    void SetUp() override
    {
        ASSERT_NE(myframe, nullptr);
        ASSERT_EQ(std::make_pair(info.window_width, info.window_height), std::make_pair(canvas_w, canvas_h));
        load_phantom(256, 256);
        ASSERT_EQ(key, 0);
    }
    void TearDown() override { EXPECT_EQ(key, 0) << "the key guard leaked"; }

public:
    // Mean brightness of the canvas inside a (non-empty) rectangle of window pixels.
    static double mean_rgb(const std::vector<unsigned char>& px, int w, int x0, int y0, int x1, int y1)
    {
        double sum = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0 * 3; x < x1 * 3; x++) sum += px[(size_t)y * w * 3 + x];
        return sum / (3.0 * (x1 - x0) * (y1 - y0));
    }
    // Number of pixels in a rectangle close to colour (r, g, b).
    static int count_colour(const std::vector<unsigned char>& px, int w, int x0, int y0, int x1, int y1, int r,
                            int g, int b, int tol = 40)
    {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) {
                const unsigned char* p = &px[((size_t)y * w + x) * 3];
                n += std::abs(p[0] - r) <= tol && std::abs(p[1] - g) <= tol && std::abs(p[2] - b) <= tol;
            }
        return n;
    }
};
