// What the mouse does to the view, as arithmetic on the record: the zoom box, the wheel,
// panning, the windowing drag and the profile line. Positions are window pixels (y down).
// The canvas calls these and then redraws; they need no window.
#pragma once

#include "core/geometry.h"

// Keeps the zoom within a factor of a thousand either way of one screen pixel per image
// pixel, so repeated zooming cannot take the visible region out of integer range.
void clamp_zoom();

// Releases a zoom box dragged from drag_start to p: a click (no width or no height)
// halves the zoom; a box is centred and zoomed to fill the window in its tighter
// direction. The cursor follows the new centre.
void finish_zoom_box(vertex2s p);

// One wheel event of `rotation` in units of `delta`: away zooms in, towards zooms out, by
// rotation / (20 delta) of the zoom. False (nothing changed) when the rotation is 0.
bool wheel_zoom(int rotation, int delta);

// Panning with the middle button: the press at p remembers it in image scale and the
// centre; each move puts the centre where the drag leaves it.
void start_pan(vertex2s p);
void apply_pan_drag(vertex2s p);

// Windowing with the right button: the press remembers the window; moving across the
// window's width moves the centre across the data range, moving down its height widens
// the window by the data range. The width never drops below 1.
void start_windowing_drag(vertex2s p);
void apply_windowing_drag(vertex2s p);

// The profile line's free end follows the mouse to window point p; its sample count is
// four per image pixel of length (at most a million) and its buffers are sized to it.
void set_profile_end(vertex2d p);
