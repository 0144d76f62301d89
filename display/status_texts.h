// The status bar's texts about the view, from the record.
#pragma once

#include <wx/string.h>

// Field 1 while zooming and panning: the image size, the visible part when it is not the
// whole image ("[w,h] @ [first column,rows below:width,height]"), the zoom and the window
// size. The visible part maps the window's corners (or a zoom box being dragged) to image
// pixels, clamped to the image.
wxString zoom_crop_text();

// Field 1 while windowing: "Windowing centre %i, width %i".
wxString windowing_text();

// Field 1 while the threshold slider moves: the threshold in source units under the
// current window.
wxString threshold_text();

// Field 2 for the processed pixel under the cursor: the noise value with the noise map
// shown, the grey value, the channel values of colour data processed in colour (one
// channel when one is selected), or the grey value of colour data processed as grey.
// Empty when the cursor is outside the image or there is nothing to read.
wxString colour_readout_text();
