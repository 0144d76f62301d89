// The processing pipeline: sub-sampling and colour conversion, then filtering of the
// visible region into processed_image.
#pragma once

// Sub-samples raw_image by info.subsample (after a Gaussian pre-filter of sigma
// subsample - 0.5 when subsample_filter is on) into sampled_image of proc_width x
// proc_height, converting colour data into info.colour. Colour data processed in Grey
// become one plane (channel sum / (channels x Grey factor)). When a colour conversion
// ran, data_min and data_max become the range of the converted levels. Does nothing
// without a raw image.
void sample_image();

// Filters the part of sampled_image visible in the window (plus a margin of filter_size
// pixels) into processed_image with the filter of info.filter; outside that region
// processed_image holds the sampled values. Times the filtering ("Filtering took %li ms"
// in status field 2 when a filter is chosen), estimates noise and the histogram where
// asked, rebuilds the display image and runs the reference comparison. Without a sampled
// image, or when called while already running (a filter that yields), returns at once.
void process_image();

// process_image over the whole image rather than the visible region, for the commands
// that write the result (saving, sequences, data sets); the view stays as it was. The
// display image is rebuilt for the view only with `display` (a run over many frames that
// nobody watches rebuilds it once at the end).
void process_whole_image(bool display = true);

// True while process_image or a long run of the core (ui_long_run) is active. Both yield
// to the event loop, so the window must hold back input that would change or free what
// the run is using until it ends.
bool pipeline_running();

// True when the last filtering of the view was cancelled and none has finished since: the
// picture is older than the settings. forget_cancelled_view() accepts it as it is.
bool pipeline_view_stale();
void forget_cancelled_view();

// The reference comparison of the visible region (x0, y0) .. (x1, y1) in processed
// pixels, run after filtering when a reference image is loaded: compare_to_ref, which
// tests may replace.
extern void (*pipeline_compare_hook)(int x0, int y0, int x1, int y1);

// The visible region of process_image, in sampled pixels (rows r0..r1 - 1, columns
// c0..c1 - 1), and the filtered crop around it (R0..R1 - 1, C0..C1 - 1).
struct visible_region {
    int r0, r1, c0, c1;
    int R0, R1, C0, C1;
};
visible_region pipeline_visible_region();
