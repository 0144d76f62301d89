// Splitting a filter's rows over the cores, with the first band on the calling thread
// yielding to the event loop now and then so the window stays responsive. Bands write
// disjoint rows, so the result is the same however many cores run.
#pragma once

#include <functional>

class yield_clock {
public:
    // `may_yield`: the band runs on the thread of the event loop.
    explicit yield_clock(bool may_yield = true);
    // Yields through the UI seam when a sixth of a second has passed since the last time
    // (on the event loop's thread only), and ends the band with ui_cancelled when the run
    // was cancelled meanwhile.
    void maybe_yield();

private:
    long long last_ms;
    bool may_yield;
};

// Runs body(y0, y1, clock) over bands of the h rows; `work` (samples touched) decides
// whether a second thread pays. Every band gets a clock; only the first band's yields.
void over_row_bands(int h, long long work, const std::function<void(int, int, yield_clock*)>& body);

// The same over n large items (planes of an image) instead of rows: even two are split.
void over_items(int n, long long work, const std::function<void(int, int, yield_clock*)>& body);
