// The display stage: processed_image windowed, colour-mapped and interpolated into the
// window-sized RGB bytes of display_image.
#pragma once

// Rebuilds display_image (window_width x window_height x 3 bytes, allocated here when
// null) from the record: the visible crop of processed_image (or the residual, the
// detail-enhanced image or the noise map), mapped to RGB, windowed, resampled with
// info.interp (or its gradient), with threshold marks. Samples line_profile along the
// profile line. Without a processed image the result is black. Reads never leave the
// crop: kernels reaching past its edge see the nearest edge sample. A window width below
// 1 is taken as 1.
void create_display_image();

// The canvas is w x h pixels (each at least 1): window_width, window_height and a black
// display_image of that size.
void resize_display(int w, int h);

// Zoom to fit: zoom_mode 0, centre on the image middle, zoom = min of the two ratios.
void set_default_zoom();

// The part of processed_image the display reads, in processed pixels (inclusive): the
// visible area plus two pixels, clamped to the image.
struct display_crop {
    int top, bottom, left, right;
    int rows() const { return bottom - top + 1; }
    int cols() const { return right - left + 1; }
};
display_crop display_visible_crop();
