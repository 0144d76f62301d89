// Noise estimation. The estimators arrive with the noise models; until then they give a
// cleared histogram and a neutral noise map, so every caller in the pipeline runs safely.
#include "processing/noise_estimation.h"

#include <algorithm>

#include "core/record.h"

void estimate_histogram(int* image, int width, int height)
{
    if (info.histogram && info.histogram_bins > 0)
        std::fill(info.histogram, info.histogram + info.histogram_bins, 0);
}

void estimate_noise_image(int* image, int width, int height, int* noise)
{
    if (!noise || width < 6 || height < 6) return;
    // Until the block estimator arrives the map says the noise equals the level everywhere
    // (4096 x 16 is the level, in sample units),
    // so the level-thresholded filters behave as they do without the automatic level.
    std::fill(noise, noise + (size_t)width * height, 4096 * 16);
}
