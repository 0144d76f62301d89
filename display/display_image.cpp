// The display stage. Until windowing and interpolation are built, grey images are shown
// by nearest-neighbour lookup with the current window.
#include "display/display_image.h"

#include <algorithm>
#include <cstring>

#include "app/record.h"

void set_default_zoom()
{
    info.zoom_mode = 0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    info.zoom = std::min((double)info.window_width / info.width,
                         (double)info.window_height / info.height);
}

void create_display_image()
{
    const size_t bytes = (size_t)info.window_width * info.window_height * 3;
    if (!info.display_image) info.display_image = new unsigned char[bytes];
    std::memset(info.display_image, 0, bytes);
    if (!info.processed_image || info.zoom <= 0) return;
    const int n = info.colour_processing ? info.channels : 1;
    const double range = std::max(info.window_range, 1);
    for (int y = 0; y < info.window_height; y++) {
        const int iy = (int)((y - info.window_height / 2) / info.zoom + info.centre.y + 0.5);
        if (iy < 0 || iy >= info.proc_height) continue;
        for (int x = 0; x < info.window_width; x++) {
            const int ix = (int)((x - info.window_width / 2) / info.zoom + info.centre.x + 0.5);
            if (ix < 0 || ix >= info.proc_width) continue;
            const int* p = info.processed_image + ((size_t)iy * info.proc_width + ix) * n;
            unsigned char* d = info.display_image + ((size_t)y * info.window_width + x) * 3;
            for (int k = 0; k < 3; k++) {
                const double v = p[n == 1 ? 0 : std::min(k, n - 1)] / 16.0;
                const double g = ((v - info.window_centre) / range + 0.5) * 255.0 + 0.5;
                d[k] = (unsigned char)std::clamp(g, 0.0, 255.0);
            }
        }
    }
}
