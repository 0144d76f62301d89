// Mapping between window pixels (y down, origin top left) and raw-image pixels through
// info.zoom, info.centre, info.window_width and info.window_height.
#pragma once

#include "core/geometry.h"

// Raw-image pixel under window pixel w, rounded: (int)((w - size / 2) / zoom + centre
// + 0.5) with size / 2 in integers.
vertex2s window_to_image(vertex2s w);
// The same without rounding.
vertex2d window_to_image(vertex2d w);
// Window pixel of image point p: (int)((p - centre) x zoom + size / 2 + 0.5).
vertex2s image_to_window(vertex2d p);
