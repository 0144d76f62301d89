// Holding back input while the pipeline runs.
#include "app/deferred_input.h"

#include <deque>
#include <memory>
#include <wx/app.h>
#include <wx/event.h>
#include <wx/log.h>
#include <wx/weakref.h>
#include <wx/window.h>

#include "app/gl_canvas.h"
#include "app/main_frame.h"
#include "commands/pipeline.h"
#include "core/ui.h"

namespace {

struct held_event {
    wxWeakRef<wxWindow> target;
    std::unique_ptr<wxEvent> event;
};

std::deque<held_event> held;
bool replaying = false;
// The slider position last acted on, and whether Escape stopped a run since.
wxWeakRef<wxWindow> run_slider;
int run_position = 0;
bool escaped = false;
const wxEvent* replayed = nullptr;  // the event being replayed passes the filter

bool is_scroll(wxEventType t)
{
    return t == wxEVT_SCROLL_TOP || t == wxEVT_SCROLL_BOTTOM || t == wxEVT_SCROLL_LINEUP ||
           t == wxEVT_SCROLL_LINEDOWN || t == wxEVT_SCROLL_PAGEUP || t == wxEVT_SCROLL_PAGEDOWN ||
           t == wxEVT_SCROLL_THUMBTRACK || t == wxEVT_SCROLL_THUMBRELEASE || t == wxEVT_SCROLL_CHANGED;
}

bool is_mouse_or_key(wxEventType t)
{
    return t == wxEVT_LEFT_DOWN || t == wxEVT_LEFT_UP || t == wxEVT_LEFT_DCLICK ||
           t == wxEVT_MIDDLE_DOWN || t == wxEVT_MIDDLE_UP || t == wxEVT_MIDDLE_DCLICK ||
           t == wxEVT_RIGHT_DOWN || t == wxEVT_RIGHT_UP || t == wxEVT_RIGHT_DCLICK ||
           t == wxEVT_MOUSEWHEEL || t == wxEVT_MOTION || t == wxEVT_KEY_DOWN;
}

bool is_held_type(wxEventType t)
{
    return is_scroll(t) || t == wxEVT_CHOICE || t == wxEVT_CHECKBOX || t == wxEVT_BUTTON ||
           t == wxEVT_MENU || is_mouse_or_key(t) || t == wxEVT_CLOSE_WINDOW || t == wxEVT_DROP_FILES;
}

// The main window, or the window inside it, that an event is for; null for anything else
// (a progress dialog, say).
wxWindow* main_window_target(wxEvent& e)
{
    if (!myframe) return nullptr;
    if (e.GetEventType() == wxEVT_MENU) return myframe;
    wxWindow* w = wxDynamicCast(e.GetEventObject(), wxWindow);
    for (wxWindow* p = w; p; p = p->IsTopLevel() ? nullptr : p->GetParent())
        if (p == myframe) return w;
    return nullptr;
}

void schedule_replay()
{
    static bool scheduled = false;
    if (scheduled || !wxTheApp) return;
    scheduled = true;
    wxTheApp->CallAfter([] {
        scheduled = false;
        replay_deferred_input();
    });
}

class input_filter : public wxEventFilter {
public:
    int FilterEvent(wxEvent& e) override
    {
        const wxEventType t = e.GetEventType();
        const bool running = pipeline_running();
        if (&e == replayed || !is_held_type(t) || (!running && !is_scroll(t))) return Event_Skip;
        wxWindow* target = main_window_target(e);
        if (!target) return Event_Skip;
        if (running && ui_cancellable_active()) {
            // Escape stops the filtering of the view; a newer slider value replaces the
            // running one instead of queueing behind it (the value is held below and
            // replayed as soon as the run has unwound).
            if (t == wxEVT_KEY_DOWN && static_cast<wxKeyEvent&>(e).GetKeyCode() == WXK_ESCAPE) {
                ui_request_cancel();
                escaped = true;
                return Event_Processed;
            }
            // The release of the slider whose move started the run carries the same value:
            // it must not stop the run it asks for.
            if (is_scroll(t) && !(target == run_slider.get() &&
                                  static_cast<wxScrollEvent&>(e).GetPosition() == run_position))
                ui_request_cancel();
        }
        // A slider's move is acted on from the top of the event loop, never inside the
        // toolkit's delivery of the pointer motion that moved it: a run started there would
        // keep the toolkit from delivering the drag's later motions until it ends, while the
        // button's release still comes through, so the drag would stop where the run began.
        if (!running) schedule_replay();
        // Mouse and keys act on the arrays through the canvas only. A native control must see
        // its own: held, they never reach the toolkit, so a dragged slider would stop under
        // the pointer and its later positions be lost. The control's scroll or command event
        // is held instead.
        if (is_mouse_or_key(t) && target != myframe->canvas) return Event_Skip;
        // A newer position of the same slider, or a newer mouse position, replaces the older.
        if (!held.empty() && held.back().target.get() == target) {
            const wxEventType last = held.back().event->GetEventType();
            if ((is_scroll(t) && is_scroll(last) && t != wxEVT_SCROLL_THUMBRELEASE) ||
                (t == wxEVT_MOTION && last == wxEVT_MOTION)) {
                held.back().event.reset(e.Clone());
                return Event_Processed;
            }
        }
        held.push_back({target, std::unique_ptr<wxEvent>(e.Clone())});
        return Event_Processed;
    }
};

}  // namespace

void install_deferred_input()
{
    static input_filter* filter = nullptr;
    if (filter) return;
    filter = new input_filter;
    wxEvtHandler::AddFilter(filter);
}

void replay_deferred_input()
{
    if (replaying || pipeline_running()) return;
    replaying = true;
    // A warning raised during the run is shown first: the input held meanwhile was typed
    // without the user seeing it, and must not end up in its message box.
    wxLog::FlushActive();
    while (!held.empty() && !pipeline_running()) {
        held_event h = std::move(held.front());
        held.pop_front();
        if (!h.target || !myframe) continue;
        wxWindow* w = h.event->GetEventType() == wxEVT_MENU ? myframe : h.target.get();
        replayed = h.event.get();
        if (is_scroll(h.event->GetEventType())) {
            run_slider = h.target.get();
            run_position = static_cast<wxScrollEvent&>(*h.event).GetPosition();
        }
        w->GetEventHandler()->ProcessEvent(*h.event);
        replayed = nullptr;
    }
    // A run stopped by a newer value whose own event started none (a release, a display
    // setting) leaves the picture older than the settings: filter again. Escape keeps it.
    if (held.empty() && !pipeline_running() && pipeline_view_stale()) {
        if (escaped) {
            forget_cancelled_view();
        } else if (myframe) {
            process_image();
            myframe->canvas->Refresh(false);
        }
    }
    if (!pipeline_running()) escaped = false;
    replaying = false;
}

int deferred_input_count() { return (int)held.size(); }
