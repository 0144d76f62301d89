#include "gui_events.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/slider.h>

#include "app/deferred_input.h"
#include "app/gl_canvas.h"
#include "app/main_frame.h"
#include "core/record.h"
#include "gui_harness.h"

// Hands `e` to the handler of `source`, as coming from it.
static void send(wxWindow* source, wxEvent& e)
{
    e.SetEventObject(source);
    source->GetEventHandler()->ProcessEvent(e);
}

void mouse(wxEventType type, int x, int y, bool shift, bool ctrl, int wheel)
{
    wxMouseEvent e(type);
    e.m_x = x, e.m_y = y, e.m_shiftDown = shift, e.m_controlDown = ctrl;
    e.m_wheelRotation = wheel, e.m_wheelDelta = 120, e.m_linesPerAction = 3;
    e.m_leftDown = type == wxEVT_LEFT_DOWN;  // button state during drags
    e.m_middleDown = type == wxEVT_MIDDLE_DOWN;
    e.m_rightDown = type == wxEVT_RIGHT_DOWN;
    send(myframe->canvas, e);
}

void drag(wxEventType down, wxEventType up, int x0, int y0, int x1, int y1, bool shift,
          bool ctrl, int steps)
{
    mouse(down, x0, y0, shift, ctrl);
    for (int i = 1; i <= steps; i++)
        mouse(wxEVT_MOTION, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, shift, ctrl);
    mouse(up, x1, y1, shift, ctrl);
}

void press_key(int code)
{
    wxKeyEvent e(wxEVT_KEY_DOWN);
    e.m_keyCode = code;
    send(myframe->canvas, e);
}

void slide(int id, int value, wxEventType type)
{
    wxSlider* s = myframe->slider(id);
    s->SetValue(value);
    wxScrollEvent e(type, id, s->GetValue(), wxHORIZONTAL);
    send(s, e);
    replay_deferred_input();  // as the event loop would next
}

// A command event of `type` from `source`, carrying `n`.
static void notify(wxWindow* source, wxEventType type, int id, int n = 0)
{
    wxCommandEvent e(type, id);
    e.SetInt(n);
    send(source, e);
}

void choose(int id, int index)
{
    myframe->choice(id)->SetSelection(index);
    notify(myframe->choice(id), wxEVT_CHOICE, id, index);
}

void tick(int id, bool value)
{
    myframe->check(id)->SetValue(value);
    notify(myframe->check(id), wxEVT_CHECKBOX, id, value);
}

void command(int id) { notify(myframe, wxEVT_MENU, id); }
void click(int id) { notify(myframe->control(id), wxEVT_BUTTON, id); }

void set_canvas_size(int w, int h)
{
    const wxSize now = myframe->canvas->GetClientSize(), frame = myframe->GetClientSize();
    myframe->SetClientSize(frame.x + w - now.x, frame.y + h - now.y);
    pump_until([&] {
        const wxSize s = myframe->canvas->GetClientSize();
        return s.x == w && s.y == h && myframe->canvas->gl_ready && info.window_width == w &&
               info.window_height == h;
    }, 3.0);
}
