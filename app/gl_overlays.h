// Drawing helpers of the canvas's overlays (their members of MyGLCanvas are defined in
// gl_overlays.cpp).
#pragma once

// A one-pixel rectangle outline in the current colour, in GL window coordinates.
void gl_outline(double x0, double y0, double x1, double y1);
