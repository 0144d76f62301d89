// Window and image coordinates.
#include "display/coordinates.h"

#include <algorithm>

#include "core/record.h"
#include "display/display_image.h"

vertex2s window_to_image(vertex2s w)
{
    vertex2s p;
    if (!(info.zoom > 0)) return info.centre;  // no usable zoom: everything maps to the centre
    p.x = (short)(int)((w.x - info.window_width / 2) / info.zoom + info.centre.x + 0.5);
    p.y = (short)(int)((w.y - info.window_height / 2) / info.zoom + info.centre.y + 0.5);
    return p;
}

vertex2d window_to_image(vertex2d w)
{
    if (!(info.zoom > 0)) return vertex2d(info.centre.x, info.centre.y);
    return vertex2d((w.x - info.window_width / 2) / info.zoom + info.centre.x,
                    (w.y - info.window_height / 2) / info.zoom + info.centre.y);
}

vertex2s image_to_window(vertex2d p)
{
    vertex2s w;
    w.x = (short)(int)((p.x - info.centre.x) * info.zoom + info.window_width / 2 + 0.5);
    w.y = (short)(int)((p.y - info.centre.y) * info.zoom + info.window_height / 2 + 0.5);
    return w;
}

void set_default_zoom()
{
    info.zoom_mode = 0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    // An empty image keeps the old zoom rather than dividing by zero.
    if (info.width > 0 && info.height > 0)
        info.zoom = std::min((double)info.window_width / info.width,
                             (double)info.window_height / info.height);
}
