// The processing pipeline: sub-sampling and colour conversion, then filtering of the
// visible region into processed_image.
#pragma once

// Sub-samples raw_image and converts its colour space into sampled_image.
void sample_image();

// Filters the visible part of sampled_image into processed_image and rebuilds the
// display image. A nested call (from an event handled while filtering yields) returns
// at once.
void process_image();
