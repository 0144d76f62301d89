// The display stage: processed_image windowed and interpolated into display_image.
#pragma once

// Rebuilds display_image (window_width x window_height x 3 bytes, allocated here when
// null) from the record. Without a processed image the result is black.
void create_display_image();

// Zoom to fit: zoom_mode 0, centre on the image middle, zoom = min of the two ratios.
void set_default_zoom();
