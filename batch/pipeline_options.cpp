// Options shared by the batch verbs that run the pipeline.
#include "batch/pipeline_options.h"

#include <cstdio>
#include <vector>

#include "commands/filter_choice.h"
#include "core/record.h"
#include "processing/colour.h"

void apply_sampling_options(const batch_args& args)
{
    info.subsample = (int)args.integer("--subsample", info.subsample, 1, 64);
    // A factor past the image's size leaves no pixel to filter or show; running on would
    // report a filtering time for nothing.
    if (info.raw_image && (info.width / info.subsample < 1 || info.height / info.subsample < 1))
        throw run_error("sub-sampling by " + std::to_string(info.subsample) + " leaves no pixel of a " +
                        std::to_string(info.width) + " x " + std::to_string(info.height) + " image");
    if (args.has("--no-subsample-filter")) info.subsample_filter = 0;
    if (args.has("--colour")) {
        const int c = (int)args.integer("--colour", info.colour, 0, COLOUR_SPACES - 1);
        if (!colour_allowed(info.data_colour, c))
            throw usage_error("--colour " + std::to_string(c) +
                              " is not offered for data of colour layout " +
                              std::to_string(info.data_colour));
        info.colour = c;
        if (c == COLOUR_GREY) info.channel = 0;
    }
}

void apply_filter_options(const batch_args& args)
{
    info.filter = (int)args.integer("--filter", info.filter, FILTER_NONE, FILTER_KINDS - 1);
    // The window slider offers 1 .. 20; past 100 the windowed filters would run for hours.
    info.filter_size = (int)args.integer("--size", info.filter_size, 0, 100);
    info.mask_radius[0] = info.mask_radius[1] = info.filter_size + 0.5;
    info.centile = (int)args.integer("--centile", info.centile, 0, 100);
    info.level = (int)args.integer("--level", info.level, 0, 1000000);
    if (args.has("--no-level")) info.use_level = 0;
    if (args.has("--auto-level")) info.levelling = 1;
    if (args.has("--multires")) {
        info.filter_iterate = 1;
        info.iterations = (int)args.integer("--multires", info.iterations, 1, 20);
    }
    info.mask = (int)args.integer("--mask", info.mask, 0, MASK_KINDS - 1);
    info.angle = (int)args.integer("--angle", info.angle, -360, 360);
    if (args.has("--noise")) {
        info.noise_kind = (int)args.integer("--noise", 0, 0, 2);
        info.noise_colour = info.noise_kind != 0 && info.data_colour == COLOUR_RGB;
    }
    apply_filter_choice();
}
