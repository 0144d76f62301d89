// A record holding an image built in the test, for pipeline and display tests.
#pragma once

#include <algorithm>
#include <random>
#include <vector>

#include "core/record.h"

// Resets the record and installs a width x height image of `channels` values per pixel (data
// colour 0 for one channel), in a window of the image's size at zoom 1 centred on it.
inline void install_image(int width, int height, int data_colour, int channels,
                          const std::vector<int>& samples)
{
    reset_info();
    // Display switches the reset leaves alone.
    info.show_hipass = info.show_gradient = info.show_threshold = 0;
    info.levelling = info.filter_iterate = 0;
    info.width = info.window_width = width;
    info.height = info.window_height = height;
    info.data_colour = info.colour = data_colour;
    info.channels = channels;
    info.channel = 0;
    info.raw_image = new int[samples.size()];
    std::copy(samples.begin(), samples.end(), info.raw_image);
    info.display_image = new unsigned char[(size_t)width * height * 3]();
    info.zoom = 1.0;
    info.centre = vertex2s{(short)(width / 2), (short)(height / 2)};
    info.data_min = 0;
    info.data_max = 255;
    info.window_centre = 127;
    info.window_range = 255;
}

inline std::vector<int> random_samples(size_t count, int max_level, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, max_level * 16);
    std::vector<int> v(count);
    for (int& x : v) x = level(rng);
    return v;
}
