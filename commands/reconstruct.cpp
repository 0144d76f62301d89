#include "commands/reconstruct.h"

#include <algorithm>
#include <string>

#include "core/path_buffer.h"
#include "core/record.h"
#include "ct/rsq_file.h"
#include "commands/pipeline.h"

bool reload_rsq_file(bool flush_cache, bool reset_window)
{
    if (!info.rsq_loaded) return false;
    if (flush_cache) flush_rsq_cache();
    release_array(info.sampled_image);
    release_array(info.aux_image);
    release_array(info.processed_image);
    std::vector<char> name = path_buffer(native_path(info.file_name));
    const bool ok = load_rsq_file(name.data(), info.frame, reset_window);
    info.default_centre = info.window_centre;
    info.default_range = info.window_range;
    info.zoom_mode = 0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    info.zoom = std::min((double)info.window_width / info.width, (double)info.window_height / info.height);
    sample_image();
    process_image();
    return ok;
}
