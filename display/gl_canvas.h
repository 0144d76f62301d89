// The OpenGL canvas that shows display_image.
#pragma once

#include <vector>
#include <wx/glcanvas.h>

class MyGLCanvas : public wxGLCanvas {
public:
    explicit MyGLCanvas(wxWindow* parent);
    ~MyGLCanvas() override;

    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);

    // Draws the current display image into the back buffer and returns its pixels
    // (RGB, top row first) without swapping; for tests and screenshots.
    std::vector<unsigned char> read_pixels(int& w, int& h);

    bool redraw_pending = false;  // the idle handler refreshes the canvas
    bool status_pending = false;  // the idle handler updates the zoom status

private:
    void render();
    wxGLContext* context = nullptr;
};
