#include "app/gui_ui.h"

#include <memory>
#include <wx/app.h>
#include <wx/progdlg.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include "app/gl_canvas.h"
#include "app/main_frame.h"
#include "core/ui.h"
#include "commands/pipeline.h"
#include "core/record.h"
#include "processing/filter_dispatch.h"

static std::unique_ptr<wxProgressDialog> progress;

static void gui_status(int field, const wxString& text)
{
    if (myframe && myframe->GetStatusBar() && field < myframe->GetStatusBar()->GetFieldsCount())
        myframe->SetStatusText(text, field);
}

static void gui_progress_begin(const wxString& title, const wxString& message, int maximum,
                               bool can_cancel)
{
    progress.reset();
    int style = wxPD_APP_MODAL | wxPD_AUTO_HIDE | wxPD_ELAPSED_TIME;
    if (can_cancel) style |= wxPD_CAN_ABORT;
    progress = std::make_unique<wxProgressDialog>(title, message, maximum > 0 ? maximum : 1,
                                                  myframe, style);
}

static bool gui_progress_update(int value, const wxString& message)
{
    if (!progress) return true;
    if (value > progress->GetRange()) value = progress->GetRange();
    return progress->Update(value, message);
}

static void gui_progress_end() { progress.reset(); }

// The toolkit's idle turn is spent inside the yield; asking for another one makes the turn
// after the run come without waiting for new input, and with it the warnings the run logged
// and the input it held back.
static void gui_yield()
{
    // A filtering of the view that takes more than half a second says so, and how to stop it.
    const long long ms = ui_cancellable_elapsed_ms();
    if (myframe && ms >= 500)
        gui_status(2, wxString::Format(_("%s: %.1f s so far (Esc cancels)"),
                                       wxGetTranslation(filter_label(info.filter)), ms / 1000.0));
    wxSafeYield(myframe, true);
    wxWakeUpIdle();
}

// A slice still being reconstructed: filtered and shown as it stands.
static void gui_redraw()
{
    if (!myframe || pipeline_running()) return;
    process_image();
    myframe->canvas->Refresh(false);
    myframe->canvas->Update();
}

static void gui_repaint()
{
    if (!myframe) return;
    myframe->canvas->Refresh(false);
    myframe->canvas->Update();
}

void gui_install_ui_hooks()
{
    ui_hooks hooks;
    hooks.status = gui_status;
    hooks.progress_begin = gui_progress_begin;
    hooks.progress_update = gui_progress_update;
    hooks.progress_end = gui_progress_end;
    hooks.yield = gui_yield;
    hooks.redraw = gui_redraw;
    hooks.repaint = gui_repaint;
    ui_install(hooks);
}
