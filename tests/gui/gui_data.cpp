#include "gui_data.h"

#include <cmath>
#include <wx/image.h>

#include "app/gl_canvas.h"
#include "app/main_frame.h"
#include "commands/pipeline.h"
#include "commands/startup.h"
#include "core/record.h"

int phantom_value(int x, int y, int w, int h)
{
    const double cx = w / 2.0, cy = h / 2.0, r = std::min(w, h) * 0.45;
    const double d = std::hypot(x + 0.5 - cx, (y + 0.5 - cy) * 1.15);
    if (d > r) return -1000;                 // air
    if (d > r * 0.9) return 1200;            // bone ring
    const double dx = x + 0.5 - cx * 0.7, dy = y + 0.5 - cy;
    if (std::hypot(dx, dy) < r * 0.15) return 1500;  // metal-like insert
    if (std::hypot(x + 0.5 - cx * 1.3, y + 0.5 - cy * 0.8) < r * 0.12) return -500;  // lung
    return 40 + (int)(20 * std::sin(x * 0.3) * std::cos(y * 0.2));  // soft tissue texture
}

// A fresh record for an image of w x h pixels with `channels` values each; the canvas size stays.
static void fresh_record(int w, int h, int channels, const char* name)
{
    const int ww = info.window_width, wh = info.window_height;
    reset_info();
    info.window_width = ww, info.window_height = wh;
    info.width = w, info.height = h, info.channels = channels;
    info.data_colour = channels == 3;
    info.raw_image = new int[(size_t)w * h * channels];
    info.file_name = name;
}

static void finish_load()
{
    derive_first_view(info.window_width, info.window_height);
    sample_image();
    process_image();
    if (myframe) {
        myframe->reset_controls();
        myframe->canvas->Refresh(false);
        myframe->canvas->Update();
    }
}

void load_phantom(int w, int h, int frames)
{
    fresh_record(w, h, 1, "phantom.dcm");
    info.frames = frames;
    info.file_type = -4;
    info.pixel_width = info.pixel_height = 0.5;
    info.data_min = 100000, info.data_max = -100000;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int v = phantom_value(x, y, w, h);
            info.raw_image[(size_t)y * w + x] = v * 16;
            info.data_min = std::min(info.data_min, v);
            info.data_max = std::max(info.data_max, v);
        }
    info.window_centre = 40, info.window_range = 400;
    finish_load();
}

void load_colour_ramp(int w, int h)
{
    fresh_record(w, h, 3, "ramp.png");
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int* p = info.raw_image + ((size_t)y * w + x) * 3;
            p[0] = (x * 255 / (w - 1)) * 16;
            p[1] = (y * 255 / (h - 1)) * 16;
            p[2] = 128 * 16;
        }
    info.data_min = 0, info.data_max = 255;
    info.window_centre = 128, info.window_range = 256;
    finish_load();
}

std::vector<unsigned char> canvas_pixels(int& w, int& h, const char* name)
{
    std::vector<unsigned char> pixels = myframe->canvas->read_pixels(w, h);
    if (name)
        wxImage(w, h, pixels.data(), true)
            .SaveFile(wxString(VOXMIRA_BUILD_DIR "/") + name + ".png", wxBITMAP_TYPE_PNG);
    return pixels;
}
