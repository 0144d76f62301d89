// The processing pipeline. Until the sampling and filter stages are built, the pipeline
// passes the raw image through unchanged so the display has something to show.
#include "processing/pipeline.h"

#include <cstring>

#include "app/record.h"
#include "display/display_image.h"

void sample_image()
{
    info.proc_width = info.width / info.subsample;
    info.proc_height = info.height / info.subsample;
    release_array(info.sampled_image);
    if (!info.raw_image) return;
    const int n = info.data_colour ? info.channels : 1;
    info.colour_processing = info.data_colour ? 1 : 0;
    const size_t count = (size_t)info.width * info.height * n;
    info.sampled_image = new int[count];
    std::memcpy(info.sampled_image, info.raw_image, count * sizeof(int));
}

void process_image()
{
    static bool busy = false;
    if (busy) return;
    busy = true;
    release_array(info.processed_image);
    if (info.sampled_image) {
        const int n = info.colour_processing ? info.channels : 1;
        const size_t count = (size_t)info.proc_width * info.proc_height * n;
        info.processed_image = new int[count];
        std::memcpy(info.processed_image, info.sampled_image, count * sizeof(int));
    }
    create_display_image();
    busy = false;
}
