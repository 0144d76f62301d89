// Test data put straight into the record, as a loader would leave it.
#pragma once

#include <vector>

// Fills the record with a grey phantom of w x h pixels (values in source units from
// about -1000 to 1500, pixel spacing 0.5 mm) and `frames` frames, derives the first view
// for the current canvas, runs the pipeline and resets the controls.
void load_phantom(int w = 256, int h = 256, int frames = 1);

// An RGB image (data_colour 1, three channels): a colour ramp.
void load_colour_ramp(int w = 128, int h = 96);

// The phantom's value at (x, y), source units.
int phantom_value(int x, int y, int w, int h);

// The canvas as RGB bytes, top row first; saves it to build/NAME.png when name is set.
std::vector<unsigned char> canvas_pixels(int& w, int& h, const char* name = nullptr);
