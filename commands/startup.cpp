#include "commands/startup.h"

#include <algorithm>

#include "core/path_buffer.h"
#include "core/record.h"
#include "display/display_image.h"
#include "commands/loader_chain.h"

bool load_startup_file(const char* only)
{
    info.ref_file_name.clear();
    if (info.file_name.empty()) return false;
    const std::string path = native_path(info.file_name);
    if (path.empty()) return false;
    // A file no loader takes says why, on the command line as in the Open dialog.
    return load_or_say_why(path, only);
}

void allocate_display_and_fit(bool allocate)
{
    if (allocate)
        resize_display(info.window_width, info.window_height);
    else
        release_array(info.display_image);
    info.zoom_mode = 0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    info.zoom = std::min((double)info.window_width / info.width,
                         (double)info.window_height / info.height);
}

void derive_default_window()
{
    if (info.raw_image && info.window_range == 1) {
        info.window_centre = (info.data_min + info.data_max) / 2;
        // A flat image would give width 0; the display divides by the width.
        info.window_range = std::max(info.data_max - info.data_min, 1);
    }
    info.default_centre = info.window_centre;
    info.default_range = info.window_range;
    info.colour = info.data_colour;
    info.channel = 0;
}

void derive_first_view(int window_w, int window_h, bool allocate_display)
{
    if (!info.raw_image) info.file_name.clear();
    derive_default_window();
    info.window_width = window_w > 0 ? window_w : info.width;
    info.window_height = window_h > 0 ? window_h : info.height;
    allocate_display_and_fit(allocate_display);
}
