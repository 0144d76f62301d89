#include "app/gl_canvas.h"

#include <GL/gl.h>

#include <algorithm>

#include <wx/dcclient.h>

#include "app/gl_fonts.h"
#include "app/gl_overlays.h"
#include "app/main_frame.h"
#include "core/record.h"
#include "core/ui.h"
#include "display/coordinates.h"
#include "display/display_image.h"
#include "display/view_arithmetic.h"
#include "commands/pipeline.h"

MyGLCanvas* canvas = nullptr;
const int wxglcanvas_attrib_list[] = {WX_GL_RGBA, WX_GL_DOUBLEBUFFER, WX_GL_DEPTH_SIZE, 16, 0};

namespace {

// Re-filter when a filter is chosen (only the visible part is filtered), else only the
// display image needs rebuilding.
void view_changed()
{
    if (info.filter != FILTER_NONE)
        process_image();
    else
        create_display_image();
}

void compare_whole_image()
{
    if (myframe) myframe->compare_reference();
}

}  // namespace

MyGLCanvas::MyGLCanvas(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size,
                       long style, const wxString& name)
    : wxGLCanvas(parent, id, wxglcanvas_attrib_list, pos, size, style, name)
{
    context = new wxGLContext(this);
    SetBackgroundColour(*wxBLACK);
    Bind(wxEVT_SIZE, &MyGLCanvas::OnSize, this);
    Bind(wxEVT_PAINT, &MyGLCanvas::OnPaint, this);
    Bind(wxEVT_ERASE_BACKGROUND, &MyGLCanvas::OnEraseBackground, this);
    Bind(wxEVT_KEY_DOWN, &MyGLCanvas::OnKeyDown, this);
    for (const auto& t : std::initializer_list<wxEventTypeTag<wxMouseEvent>>{wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_MIDDLE_DOWN,
                          wxEVT_MIDDLE_UP, wxEVT_MIDDLE_DCLICK, wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP,
                          wxEVT_RIGHT_DCLICK, wxEVT_MOTION, wxEVT_ENTER_WINDOW,
                          wxEVT_LEAVE_WINDOW, wxEVT_MOUSEWHEEL})
        Bind(t, &MyGLCanvas::OnMouse, this);
    canvas = this;
}

MyGLCanvas::~MyGLCanvas()
{
    if (info.font) {
        if (IsShownOnScreen()) SetCurrent(*context);
        delete info.font;
        info.font = nullptr;
    }
    delete context;
    if (canvas == this) canvas = nullptr;
}

void MyGLCanvas::InitGL()
{
    const wxSize s = GetClientSize();
    glDrawBuffer(GL_BACK);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, s.x, 0, s.y, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    for (GLenum cap : {GL_FOG, GL_BLEND, GL_DEPTH_TEST, GL_DITHER, GL_LIGHTING, GL_ALPHA_TEST,
                       GL_STENCIL_TEST, GL_COLOR_LOGIC_OP, GL_TEXTURE_1D, GL_TEXTURE_2D})
        glDisable(cap);
    glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
    for (GLenum scale : {GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE, GL_ALPHA_SCALE})
        glPixelTransferf(scale, 1.0f);
    for (GLenum bias : {GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS, GL_ALPHA_BIAS, GL_DEPTH_SCALE,
                        GL_DEPTH_BIAS})
        glPixelTransferf(bias, 0.0f);
    glPixelTransferi(GL_INDEX_SHIFT, 0);
    glPixelTransferi(GL_INDEX_OFFSET, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glClearColor(1, 1, 1, 1);
    glPixelZoom(1.0f, -1.0f);
    delete info.font;
    info.font = new gl_fonts(info.font_index);
}

void MyGLCanvas::DoSize(int width, int height)
{
    if (width < 1 || height < 1) return;
    SetCurrent(*context);
    resize_display(width, height);
    // The viewport covers the whole window: one pixel smaller would drop the top row of
    // the image and shrink the overlays.
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glPixelZoom(1.0f, -1.0f);
    if (info.zoom_mode == 0) set_default_zoom();
    view_changed();
    status_pending = true;
}

void MyGLCanvas::OnSize(wxSizeEvent& event)
{
    event.Skip();
    if (!gl_ready || !IsShownOnScreen()) return;
    const wxSize s = GetClientSize();
    if (s.x != info.window_width || s.y != info.window_height) DoSize(s.x, s.y);
}

void MyGLCanvas::OnEraseBackground(wxEraseEvent&) {}

void MyGLCanvas::render()
{
    SetCurrent(*context);
    if (!gl_ready) {
        const wxSize s = GetClientSize();
        DoSize(s.x, s.y);
        InitGL();
        gl_ready = true;
    }
    glDrawBuffer(GL_BACK);
    // A display image of the window's size covers it all: clearing under it would only
    // cost software GL a pass over the buffer (nothing reads the depth buffer).
    const wxSize client = GetClientSize();
    if (!info.display_image || client.x != info.window_width || client.y != info.window_height)
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (info.display_image) {
        glRasterPos2d(0.1, info.window_height - 0.1);
        glDrawPixels(info.window_width, info.window_height, GL_RGB, GL_UNSIGNED_BYTE,
                     info.display_image);
    }
    const int wh = info.window_height;
    if (info.raw_image && info.zoom_box) {
        glColor3d(1, 0, 0);
        glLineWidth(1);
        gl_outline(info.drag_start.x + 0.5, wh - 1 - info.drag_start.y + 0.5, info.drag_end.x + 0.5,
                wh - 1 - info.drag_end.y + 0.5);
    }
    if (info.overlay) draw_overlays();
    glFlush();
}

void MyGLCanvas::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (!dc.IsOk() || !IsShownOnScreen()) return;
    render();
    SwapBuffers();
    paint_count++;
}

bool MyGLCanvas::paint_now()
{
    if (!IsShownOnScreen()) return false;
    render();
    SwapBuffers();
    return true;
}

std::vector<unsigned char> MyGLCanvas::read_pixels(int& w, int& h)
{
    render();
    glFinish();
    w = info.window_width;
    h = info.window_height;
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

void MyGLCanvas::refresh_now()
{
    Refresh(false);
    Update();
}

void MyGLCanvas::OnMouse(wxMouseEvent& event)
{
    if (!info.raw_image || key) return;
    key = 1;
    vertex2s p;
    p.x = (short)event.GetX();
    p.y = (short)event.GetY();
    const wxEventType type = event.GetEventType();
    bool repaint = true;

    if (event.ButtonDown() || event.ButtonDClick()) {
        if (event.LeftDown() || event.LeftDClick()) {
            if (!event.ShiftDown()) {
                info.drag_start = info.drag_end = p;
                info.zoom_box = 1;
                info.zoom_mode = 1;
            } else {
                info.line_drag = 1;
                info.line_start = info.line_end = window_to_image(vertex2d(p.x, p.y));
                create_display_image();
            }
        } else if (event.MiddleDown() || event.MiddleDClick()) {
            start_pan(p);
        } else if (event.RightDown() || event.RightDClick()) {
            if (event.ShiftDown() || event.ControlDown()) {
                info.cursor = window_to_image(p);
                info.probe_mode = event.ShiftDown() ? 1 : 2;
                process_image();
            } else {
                start_windowing_drag(p);
            }
        }
    } else if (event.ButtonUp()) {
        if (info.line_drag) {
            info.line_drag = 0;
        } else if (info.zoom_box) {
            finish_zoom_box(p);
            view_changed();
            if (myframe) myframe->update_zoom_crop_status();
        } else if (info.windowing) {
            apply_windowing_drag(p);
            create_display_image();
            info.windowing = 0;
        } else if (info.panning) {
            apply_pan_drag(p);
            info.panning = 0;
            view_changed();
            if (myframe) myframe->update_zoom_crop_status();
        } else if (info.probe_mode != 0) {
            info.probe_mode = 0;
        }
    } else if (type == wxEVT_LEAVE_WINDOW) {
        repaint = false;
    } else if (type == wxEVT_MOUSEWHEEL) {
        if (wheel_zoom(event.GetWheelRotation(), event.GetWheelDelta())) {
            if (myframe) myframe->update_zoom_crop_status();
            view_changed();
        } else {
            repaint = false;
        }
    } else if (type == wxEVT_MOTION) {
        if (info.zoom_box) {
            info.drag_end = p;
            if (myframe) myframe->update_zoom_crop_status();
        } else if (info.line_drag) {
            set_profile_end(vertex2d(p.x, p.y));
            create_display_image();
        } else if (info.windowing) {
            // Live windowing: the display stage re-runs at every step of the drag.
            apply_windowing_drag(p);
            create_display_image();
            if (myframe) myframe->update_windowing_status();
        } else if (info.panning) {
            apply_pan_drag(p);
            if (myframe) myframe->update_zoom_crop_status();
        } else if (info.probe_mode != 0) {
            info.cursor = window_to_image(p);
            process_image();
        } else {
            info.cursor = window_to_image(p);
            if (myframe) myframe->update_colour_status();
            repaint = false;
        }
    } else {
        repaint = false;
    }
    if (repaint) refresh_now();
    SetFocus();
    key = 0;
}

// The frame a navigation key asks for (Up and Down: the current one); false for other keys.
static bool frame_for_key(int code, int& frame)
{
    switch (code) {
    case WXK_LEFT: case WXK_PAGEUP: case WXK_NUMPAD_LEFT: case WXK_NUMPAD_PAGEUP: frame = info.frame - 1; return true;
    case WXK_RIGHT: case WXK_PAGEDOWN: case WXK_NUMPAD_RIGHT: case WXK_NUMPAD_PAGEDOWN: frame = info.frame + 1; return true;
    case WXK_HOME: case WXK_NUMPAD_HOME: frame = info.first_frame; return true;
    case WXK_END: case WXK_NUMPAD_END: frame = info.first_frame + info.frames - 1; return true;
    case WXK_UP: case WXK_DOWN: case WXK_NUMPAD_UP: case WXK_NUMPAD_DOWN: frame = info.frame; return true;
    default: return false;
    }
}

void MyGLCanvas::OnKeyDown(wxKeyEvent& event)
{
    if (key) return;
    const int code = event.GetKeyCode();
    // Frame stepping as the frame slider does. The canvas keeps these keys even with one
    // frame: passed on, the toolkit would move the focus to a slider and the next key
    // would move that slider.
    int frame;
    if (frame_for_key(code, frame)) {
        if (myframe && frame != info.frame) myframe->show_frame(frame);
        return;
    }
    key = 1;
    switch (code) {
    case WXK_SPACE:
        info.overlay = !info.overlay;
        refresh_now();
        break;
    case 'F': case 'f':
        info.font_index = (info.font_index + 1) % gl_font_count;
        if (IsShownOnScreen()) SetCurrent(*context);
        delete info.font;
        info.font = nullptr;
        gl_ready = false;
        refresh_now();
        break;
    case 'H': case 'h':
        info.show_histogram = !info.show_histogram;
        process_image();
        refresh_now();
        break;
    case 'M': case 'm':
        info.show_ssim = !info.show_ssim;
        compare_whole_image();
        break;
    case 'N': case 'n':
        compare_whole_image();
        break;
    case 'Q': case 'q':
        key = 0;
        if (myframe) myframe->Close(false);
        return;
    case 'S': case 's':
        info.use_histogram = !info.use_histogram;
        process_image();
        refresh_now();
        ui_status(1, info.use_histogram ? "Using histogram" : "Using sorting");
        break;
    default:
        event.Skip();
    }
    key = 0;
}
