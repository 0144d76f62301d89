// Mouse-driven changes of zoom, centre, window and profile line.
#include "display/view_arithmetic.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "core/record.h"
#include "display/coordinates.h"

void clamp_zoom() { info.zoom = std::clamp(info.zoom, 1e-3, 1e3); }

void finish_zoom_box(vertex2s p)
{
    const int dx = std::abs(p.x - info.drag_start.x), dy = std::abs(p.y - info.drag_start.y);
    if (dx == 0 || dy == 0) {
        info.zoom /= 2;
    } else {
        vertex2s mid;
        mid.x = (short)((p.x + info.drag_start.x) / 2);
        mid.y = (short)((p.y + info.drag_start.y) / 2);
        info.centre = window_to_image(mid);
        info.zoom *= std::min((double)info.window_width / dx, (double)info.window_height / dy);
        info.cursor = info.centre;
    }
    clamp_zoom();
    info.zoom_box = 0;
}

bool wheel_zoom(int rotation, int delta)
{
    if (rotation == 0) return false;
    const double d = (double)rotation / (std::max(delta, 1) * 20.0);
    if (rotation < 0)
        info.zoom *= 1 + d;
    else
        info.zoom /= 1 - d;
    // A huge wheel step must not zero or flip the zoom.
    if (!(info.zoom > 0)) info.zoom = 1e-3;
    clamp_zoom();
    info.zoom_mode = 1;
    return true;
}

void start_pan(vertex2s p)
{
    info.panning = 1;
    info.drag_start.x = (short)(int)(p.x / info.zoom);
    info.drag_start.y = (short)(int)(p.y / info.zoom);
    info.drag_end = info.drag_start;
    info.cursor = info.centre;
}

void apply_pan_drag(vertex2s p)
{
    info.drag_end.x = (short)(int)(p.x / info.zoom);
    info.drag_end.y = (short)(int)(p.y / info.zoom);
    info.centre.x = (short)(info.drag_start.x + info.cursor.x - info.drag_end.x);
    info.centre.y = (short)(info.drag_start.y + info.cursor.y - info.drag_end.y);
}

void start_windowing_drag(vertex2s p)
{
    info.saved_window[0] = info.window_centre;
    info.saved_window[1] = info.window_range;
    info.drag_start = info.drag_end = p;
    info.windowing = 1;
}

void apply_windowing_drag(vertex2s p)
{
    const long long range = (long long)info.data_max - info.data_min;
    const long long ww = std::max(info.window_width, 1), wh = std::max(info.window_height, 1);
    const long long c = info.saved_window[0] + (p.x - info.drag_start.x) * range / ww;
    const long long w = info.saved_window[1] + (p.y - info.drag_start.y) * range / wh;
    info.window_centre = (int)std::clamp<long long>(c, -2000000000LL, 2000000000LL);
    info.window_range = (int)std::clamp<long long>(w, 1, 2000000000LL);
    info.drag_end = p;
}

void set_profile_end(vertex2d p)
{
    // The line stays on the image: a start off it moves to the nearest edge, and the end
    // stops where the line, in the direction dragged, leaves the image.
    const double right = std::max(info.width - 1, 0), bottom = std::max(info.height - 1, 0);
    vertex2d& a = info.line_start;
    a = vertex2d(std::clamp(a.x, 0.0, right), std::clamp(a.y, 0.0, bottom));
    const vertex2d b = window_to_image(p);
    double t = 1;
    for (const auto& [from, to, top] : {std::tuple(a.x, b.x, right), std::tuple(a.y, b.y, bottom)}) {
        if (to > top) t = std::min(t, (top - from) / (to - from));
        if (to < 0) t = std::min(t, from / (from - to));
    }
    info.line_end = vertex2d(a.x + t * (b.x - a.x), a.y + t * (b.y - a.y));
    const double lx = info.line_end.x - info.line_start.x;
    const double ly = info.line_end.y - info.line_start.y;
    // Bounded so a line across a deep zoom-out cannot ask for an absurd buffer.
    info.profile_length = (int)std::min(4 * std::sqrt(lx * lx + ly * ly), 1e6);
    info.show_projection = 0;
    release_array(info.line_profile);
    release_array(info.projection_line);
    info.line_profile = new double[(size_t)4 * std::max(info.profile_length, 1)]();
    info.projection_line = new double[(size_t)std::max(info.profile_length, 1)]();
}
