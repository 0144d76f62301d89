// Window <-> raw-image coordinates for the canvas and the window's status texts.
// Window y grows downward; image coordinates are raw-image pixels. The same arithmetic as
// the display stage's mapping, kept beside the canvas until that mapping is in the build.
#pragma once

#include "app/geometry.h"
#include "app/record.h"

namespace canvas_coords {

// Whole pixels, rounded; the halves of the window use integer division.
inline vertex2s window_to_image(vertex2s w)
{
    vertex2s r;
    r.x = (short)(int)((w.x - info.window_width / 2) / info.zoom + info.centre.x + 0.5);
    r.y = (short)(int)((w.y - info.window_height / 2) / info.zoom + info.centre.y + 0.5);
    return r;
}

inline vertex2d window_to_image(vertex2d w)
{
    return vertex2d((w.x - info.window_width / 2) / info.zoom + info.centre.x,
                    (w.y - info.window_height / 2) / info.zoom + info.centre.y);
}

inline vertex2s image_to_window(vertex2d p)
{
    vertex2s r;
    r.x = (short)(int)((p.x - info.centre.x) * info.zoom + info.window_width / 2 + 0.5);
    r.y = (short)(int)((p.y - info.centre.y) * info.zoom + info.window_height / 2 + 0.5);
    return r;
}

}  // namespace canvas_coords
