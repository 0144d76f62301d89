// Thousands of random mouse, key and control events: no crash, no leaked guard, a sane view.
#include <cmath>
#include <random>

#include <wx/slider.h>

#include "gui_fixture.h"

using Monkey = GuiTest;

TEST_F(Monkey, RandomEventsKeepTheProgramSane)
{
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    const wxEventType buttons[][2] = {
        {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP}, {wxEVT_MIDDLE_DOWN, wxEVT_MIDDLE_UP}, {wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP}};
    const int keys[] = {WXK_SPACE, 'F', 'H', 'M', 'N', 'S', 'Z', 'x', WXK_LEFT};
    const int sliders[] = {ID_FILTER_SIZE, ID_THRESHOLD, ID_SUBSAMPLE, ID_METAL_METAL, ID_METAL_RANGE, ID_CENTILE, ID_DETAIL};
    const int choices[][2] = {{ID_FILTER, 13}, {ID_INTERP, 8}, {ID_MASK, 8}, {ID_NOISE, 3}};
    bool held[3] = {false, false, false};
    for (int i = 0; i < 3000; i++) {
        // Positions reach beyond the canvas on every side.
        const int x = pick(canvas_w + 200) - 100, y = pick(canvas_h + 200) - 100;
        const bool shift = pick(4) == 0, ctrl = pick(6) == 0;
        const int what = pick(100);
        if (what < 45) {
            mouse(wxEVT_MOTION, x, y, shift, ctrl);
        } else if (what < 65) {
            const int b = pick(3);
            mouse(held[b] ? buttons[b][1] : buttons[b][0], x, y, shift, ctrl);
            held[b] = !held[b];
        } else if (what < 72) {
            mouse(wxEVT_MOUSEWHEEL, x, y, false, false, pick(2) ? 120 : -120);
        } else if (what < 82) {
            press_key(keys[pick(sizeof keys / sizeof *keys)]);
        } else if (what < 90) {
            const int id = sliders[pick(sizeof sliders / sizeof *sliders)];
            wxSlider* s = myframe->slider(id);
            slide(id, s->GetMin() + pick(s->GetMax() - s->GetMin() + 1),
                  pick(3) == 0 ? wxEVT_SCROLL_THUMBRELEASE : wxEVT_SCROLL_THUMBTRACK);
        } else if (what < 95) {
            const auto& c = choices[pick(4)];
            choose(c[0], pick(c[1]));
        } else if (what < 97) {
            command(pick(2) ? ID_ZOOM_FIT : ID_ZOOM_UNITY);
        } else {
            mouse(wxEVT_LEAVE_WINDOW, x, y);
        }
        ASSERT_TRUE(key == 0 && info.window_range >= 1 && std::isfinite(info.zoom) && info.zoom > 0 &&
                    info.font_index >= 0 && info.font_index < 11)
            << "event " << i;
        int w, h;
        if (i % 200 == 0) canvas_pixels(w, h);
    }
    for (int b = 0; b < 3; b++)
        if (held[b]) mouse(buttons[b][1], 10, 10);
    EXPECT_EQ(info.zoom_box + info.panning + info.windowing + info.line_drag + info.probe_mode, 0);
    int w, h;
    canvas_pixels(w, h, "canvas_monkey");
    info.font_index = 2;
    myframe->canvas->gl_ready = false;
}
