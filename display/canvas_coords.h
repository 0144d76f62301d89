// Window <-> raw-image coordinates for the canvas and the window's status texts: the
// display stage's mapping.
#pragma once

#include "display/coordinates.h"

namespace canvas_coords {
using ::image_to_window;
using ::window_to_image;
}  // namespace canvas_coords
