// The "noise" verb: the blind block-PCA noise estimate of a file.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/batch_load.h"
#include "batch/batch_verbs.h"
#include "core/memory.h"
#include "core/record.h"
#include "processing/colour.h"
#include "processing/noise_variance.h"

static int run_noise(const batch_args& args)
{
    batch_load(args);
    if (!info.raw_image) throw run_error("nothing was loaded");
    const int w = info.width, h = info.height;
    const size_t pixels = (size_t)w * h;
    double sigma = 0;
    within_memory("the noise estimate of a " + std::to_string(w) + " x " + std::to_string(h) + " image", [&] {
        // Grey levels of the loaded image; colour through the scaled grey plane.
        std::vector<int> levels(pixels);
        if (info.data_colour == COLOUR_GREY) {
            for (size_t i = 0; i < pixels; i++) levels[i] = info.raw_image[i] / 16;
        } else {
            to_grey(info.raw_image, w, h, (colour_t)info.data_colour, levels.data(), true);
            for (int& v : levels) v /= 16;
        }
        sigma = std::sqrt(EstimateNoiseVariance(levels.data(), w, h));
    });
    std::printf("{\"width\":%d,\"height\":%d,\"noise_sigma\":%.4f}\n%.4f\n", w, h, sigma, sigma);
    return 0;
}

static batch_verb_registrar noise_verb({
    "noise", "estimate the noise sigma of FILE in grey levels",
    "noise FILE [--loader L] [--frame N]\n"
    "Loads FILE as the Open command does and prints the block-PCA estimate of the sigma of\n"
    "its additive white noise, in grey levels (colour images through their scaled grey\n"
    "plane), as JSON and then alone on the last line. Images under 6 x 6 or with no\n"
    "unclipped 5 x 5 block give 0.\n",
    with_load_options({}), 1, 1, run_noise});
