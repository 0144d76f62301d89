// The OpenGL canvas: draws display_image with its overlays (zoom box, windowing panel,
// filter probe grid, histogram, profile, help line) and turns mouse and keys into zoom,
// pan, windowing, profile lines, probes and toggles.
#pragma once

#include <vector>
#include <wx/glcanvas.h>

#include "core/geometry.h"

class MyGLCanvas;

// The one canvas, null before the main window makes it.
extern MyGLCanvas* canvas;
// RGBA, double buffered, 16-bit depth.
extern const int wxglcanvas_attrib_list[];

class MyGLCanvas : public wxGLCanvas {
public:
    MyGLCanvas(wxWindow* parent, int id = -1, const wxPoint& pos = wxDefaultPosition,
               const wxSize& size = wxDefaultSize,
               long style = wxTRANSPARENT_WINDOW | wxWANTS_CHARS | wxFULL_REPAINT_ON_RESIZE,
               const wxString& name = "MyGLCanvas");
    ~MyGLCanvas() override;

    // GL state for the current client size; creates the overlay font.
    void InitGL();
    // Adopts a new drawing size: record, viewport, projection, display buffer, fit zoom.
    void DoSize(int width, int height);

    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnEraseBackground(wxEraseEvent& event);
    void OnMouse(wxMouseEvent& event);
    void OnKeyDown(wxKeyEvent& event);

    // Paints the scene into the back buffer and returns it (RGB, top row first) without
    // swapping; for tests, screenshots and the benchmark.
    std::vector<unsigned char> read_pixels(int& w, int& h);
    // Paints and swaps, as a paint event would; returns false when the canvas cannot be
    // drawn (not shown yet).
    bool paint_now();

    wxGLContext* context = nullptr;
    bool redraw_pending = false;  // the idle handler refreshes the canvas
    bool status_pending = false;  // the idle handler updates the zoom status
    bool gl_ready = false;        // GL state and font initialised
    unsigned long paint_count = 0; // completed paint events (the latency benchmark waits on it)

private:
    void render();
    void draw_overlays();
    void draw_windowing_panel(double fs, double a);
    void draw_help_line();
    void draw_probe(double fs);
    void draw_histogram(double fs, double a);
    void draw_histogram_labels(double fs);
    void draw_profile(double fs, double a);
    void refresh_now();
};
