// The status bar's texts about the view.
#include "display/status_texts.h"

#include <algorithm>

#include "core/record.h"
#include "display/canvas_colour.h"
#include "display/coordinates.h"
#include "processing/colour.h"

wxString zoom_crop_text()
{
    vertex2s a, b;
    if (info.zoom_box) {
        a = info.drag_start;
        b = info.drag_end;
    } else {
        b.x = (short)std::min(info.window_width, 32767);
        b.y = (short)std::min(info.window_height, 32767);
    }
    a = window_to_image(a);
    b = window_to_image(b);
    const int x0 = std::clamp((int)std::min(a.x, b.x), 0, info.width);
    const int x1 = std::clamp((int)std::max(a.x, b.x), 0, info.width);
    const int y0 = std::clamp((int)std::min(a.y, b.y), 0, info.height);
    const int y1 = std::clamp((int)std::max(a.y, b.y), 0, info.height);
    wxString text;
    if (x0 == 0 && y0 == 0 && x1 == info.width && y1 == info.height)
        text = wxString::Format("[%i,%i] x %.3lf > [%i,%i]", info.width, info.height, info.zoom,
                                info.window_width, info.window_height);
    else
        text = wxString::Format("[%i,%i] @ [%i,%i:%i,%i] x %.3lf > [%i,%i]", info.width,
                                info.height, x0, info.height - y1, x1 - x0, y1 - y0, info.zoom,
                                info.window_width, info.window_height);
    return text;
}

wxString windowing_text()
{
    return wxString::Format("Windowing centre %i, width %i", info.window_centre, info.window_range);
}

wxString threshold_text()
{
    return wxString::Format("Threshold is currently at %.0f",
                            (info.threshold - 127) * (double)info.window_range / 255 +
                                info.window_centre);
}

wxString colour_readout_text()
{
    const int x = info.cursor.x, y = info.cursor.y;
    if (!info.processed_image || x < 0 || y < 0 || x >= info.width ||
        y >= info.height || info.subsample < 1)
        return wxString();
    const int px = x / info.subsample, py = y / info.subsample;
    if (px >= info.proc_width || py >= info.proc_height) return wxString();
    const size_t index = (size_t)py * info.proc_width + px;
    wxString text;
    if (info.show_noise) {
        if (!info.noise_image) return wxString();
        text = wxString::Format("Noise at pixel: %i",
                                (int)((long long)info.noise_image[index] * info.level / 4096));
    } else if (info.data_colour == COLOUR_GREY) {
        text = wxString::Format("Value at pixel: %i", info.processed_image[index] / 16);
    } else if (info.colour_processing) {
        const int n = info.channels;
        const int* p = info.processed_image + index * n;
        double f[4] = {1, 1, 1, 1};
        colour_channel_factors(info.colour, f, info.data_colour);
        auto v = [&](int k) { return (int)(p[k] * f[k] / 16); };
        if (info.channel > 0 && info.channel <= n)
            text = wxString::Format("%s at pixel: %i", colour_channel_name(info.colour, info.channel - 1),
                                    v(info.channel - 1));
        else if (n == 3)
            text = wxString::Format("%s at pixel: [%i,%i,%i]", colour_space_name(info.colour), v(0),
                                    v(1), v(2));
        else
            text = wxString::Format("%s at pixel: [%i,%i,%i,%i]", colour_space_name(info.colour),
                                    v(0), v(1), v(2), v(3));
    } else {
        double f = 1;
        colour_channel_factors(0, &f, info.data_colour);
        text = wxString::Format("%s at pixel: %i", colour_space_name(0),
                                (int)(info.processed_image[index] * f / 16));
    }
    return text;
}
