#include "display/gl_canvas.h"

#include <GL/gl.h>
#include <wx/dcclient.h>

#include "app/record.h"
#include "display/display_image.h"

static const int gl_attributes[] = {WX_GL_RGBA, WX_GL_DOUBLEBUFFER, WX_GL_DEPTH_SIZE, 16, 0};

MyGLCanvas::MyGLCanvas(wxWindow* parent)
    : wxGLCanvas(parent, wxID_ANY, gl_attributes, wxDefaultPosition, wxDefaultSize,
                 wxFULL_REPAINT_ON_RESIZE)
{
    context = new wxGLContext(this);
    Bind(wxEVT_PAINT, &MyGLCanvas::OnPaint, this);
    Bind(wxEVT_SIZE, &MyGLCanvas::OnSize, this);
}

MyGLCanvas::~MyGLCanvas() { delete context; }

void MyGLCanvas::OnSize(wxSizeEvent& event)
{
    const wxSize s = GetClientSize();
    if (s.x > 0 && s.y > 0 && (s.x != info.window_width || s.y != info.window_height)) {
        info.window_width = s.x;
        info.window_height = s.y;
        release_array(info.display_image);
        if (info.zoom_mode == 0) set_default_zoom();
        create_display_image();
        status_pending = true;
    }
    Refresh(false);
    event.Skip();
}

void MyGLCanvas::render()
{
    SetCurrent(*context);
    const wxSize s = GetClientSize();
    glViewport(0, 0, s.x, s.y);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (info.display_image && info.window_width == s.x && info.window_height == s.y) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, s.x, 0, s.y, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        // display_image is top row first; draw it downwards from the top-left corner.
        glRasterPos2i(0, s.y - 1);
        glPixelZoom(1.0f, -1.0f);
        glDrawPixels(info.window_width, info.window_height, GL_RGB, GL_UNSIGNED_BYTE,
                     info.display_image);
        glPixelZoom(1.0f, 1.0f);
    }
}

void MyGLCanvas::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (!IsShownOnScreen()) return;
    render();
    glFlush();
    SwapBuffers();
}

std::vector<unsigned char> MyGLCanvas::read_pixels(int& w, int& h)
{
    render();
    glFinish();
    const wxSize s = GetClientSize();
    w = s.x;
    h = s.y;
    std::vector<unsigned char> rows((size_t)w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    // GL rows are bottom first.
    std::vector<unsigned char> out(rows.size());
    for (int y = 0; y < h; y++)
        std::copy_n(rows.data() + (size_t)(h - 1 - y) * w * 3, (size_t)w * 3,
                    out.data() + (size_t)y * w * 3);
    return out;
}
