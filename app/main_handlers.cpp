// Control handlers: each writes one field of the record and redoes the least work the
// change needs: display only, the pipeline (which ends with the display), sampling first,
// and reset_controls when the change alters which controls apply.
#include <algorithm>

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/slider.h>

#include "app/main_controls.h"
#include "app/main_frame.h"
#include "core/record.h"
#include "core/ui.h"
#include "commands/metal_run.h"
#include <wx/log.h>
#include "display/display_image.h"
#include "display/status_texts.h"
#include "evaluation/compare.h"
#include "app/gl_canvas.h"
#include "display/interpolation.h"
#include "commands/loader_chain.h"
#include "commands/reconstruct.h"
#include "commands/filter_choice.h"
#include "commands/pipeline.h"
#include "processing/colour.h"

namespace {

void release_metal_work()
{
    release_array(info.aux_image);
    info.show_projection = 0;
    info.backproject_pending = 0;
}

}  // namespace

// The common handler of the rows that only store their value and re-run a stage.
void MyFrame::OnControl(wxCommandEvent& event)
{
    const control_row* row = find_control_row(event.GetId());
    if (!row || !row->store) return;
    const long long v = event.GetInt();
    if (row->only_changes && row->value() == v) return;
    row->store(v);
    if (row->resets) reset_controls();
    switch (row->redo) {
    case control_redo::none: return;
    case control_redo::display: create_display_image(); break;
    // Sub-sampled data cannot be written as a data set: the menu follows the slider.
    case control_redo::sample: update_menu_states(); sample_image(); process_image(); break;
    case control_redo::process: process_image(); break;
    }
    refresh_canvas();
}

// Display page.

void MyFrame::OnChoiceColour(wxCommandEvent& event)
{
    const int v = event.GetInt();
    if (!colour_allowed(info.data_colour, v)) {
        if (info.colour >= 0 && info.colour < (int)choice(ID_COLOUR)->GetCount())
            choice(ID_COLOUR)->SetSelection(info.colour);
        return;
    }
    info.colour = v;
    reset_controls();
    sample_image();
    process_image();
    update_windowing_status();
    refresh_canvas();
}

void MyFrame::OnChoiceChannel(wxCommandEvent& event)
{
    info.channel = event.GetInt();
    if (info.data_colour == COLOUR_GREY) return;
    if ((info.show_histogram || info.show_noise) && info.filter == FILTER_NONE)
        process_image();
    else
        create_display_image();
    if (info.filter != FILTER_NONE) compare_reference();
    refresh_canvas();
}

void MyFrame::OnChoiceInterp(wxCommandEvent& event)
{
    select_interpolation(event.GetInt());
    create_display_image();
    refresh_canvas();
}

void MyFrame::OnSliderThreshold(wxCommandEvent& event)
{
    const int v = event.GetInt();
    if (v == info.threshold) return;
    info.threshold = v;
    create_display_image();
    SetStatusText(threshold_text(), 1);
    refresh_canvas();
}

// Process page.

void MyFrame::OnCheckNoise(wxCommandEvent& event)
{
    info.show_noise = event.GetInt() != 0;
    info.show_hipass = 0;
    reset_controls();
    if (!info.show_noise || info.noise_image)
        create_display_image();
    else
        process_image();
    refresh_canvas();
}

void MyFrame::OnSliderFiltCentile(wxCommandEvent& event)
{
    const int v = event.GetInt();
    if (filter_traits_of(info.filter).anisotropy && v != info.centile_alt) {
        info.centile_alt = v;
    } else if (v == info.centile) {
        return;
    } else {
        info.centile = v;
    }
    process_image();
    refresh_canvas();
}

// CT Recon page.

// Micro-CT display choices reload the current record in the new mode; the controls follow
// its size and frames, and the status bar keeps the reconstruction time.
void MyFrame::reload_raw_data(bool flush_cache, bool reset_window)
{
    reload_rsq_file(flush_cache, reset_window);
    reset_controls();
    if (info.xtreme_load >= 2) SetStatusText(ui_last_status(2), 2);
    refresh_canvas();
}

void MyFrame::OnChoiceXtremeLoad(wxCommandEvent& event)
{
    info.xtreme_load = event.GetInt();
    if (info.rsq_loaded) reload_raw_data(false, true);
}

void MyFrame::OnChoiceXtremeRecon(wxCommandEvent& event)
{
    info.xtreme_recon = event.GetInt();
    if (info.rsq_loaded) reload_raw_data(false, false);
}

void MyFrame::OnRecon(wxCommandEvent&)
{
    // With raw data every record is refiltered with the current filter parameter.
    if (info.rsq_loaded) {
        reload_raw_data(true, false);
        return;
    }
    wxString why;
    if (!reconstruct_slice(&why) && !why.empty()) SetStatusText("Cannot reconstruct: " + why, 0);
    refresh_canvas();
}

void MyFrame::OnReset(wxCommandEvent&)
{
    info.metal_active = 0;
    info.metal_iteration = 0;
    release_metal_work();
    // The projection line and its report belong to the run undone: the picture goes back
    // to the loaded slice without them.
    info.line_start = info.line_end = vertex2d();
    info.profile_length = 0;
    SetStatusText(wxString(), 2);
    sample_image();
    process_image();
    refresh_canvas();
}

// CT Metal page.

void MyFrame::OnChoiceMetal(wxCommandEvent& event)
{
    set_metal_choice(event.GetInt());
    if (!info.metal_active) {
        info.metal_iteration = 0;
        info.line_margins[0] = info.line_margins[1] = 0;
        sample_image();
        process_image();
        refresh_canvas();
    } else {
        OnMetal(event);
    }
}

// While a HU slider moves, pixels at or above its value are marked on the image; the
// thumb's release (or an event repeating the stored value) ends the preview.
void MyFrame::metal_preview(int value, int stored, int hu)
{
    (void)value;
    (void)stored;
    const double t = ((double)hu - info.window_centre) * 255 / std::max(info.window_range, 1) + 127;
    info.show_threshold = 1;
    info.threshold = t > 255 ? 255 : (t < 0 ? 0 : (int)t);
    create_display_image();
    refresh_canvas();
}

namespace {

// Ends the preview: the threshold display returns to the Display page's settings.
bool metal_preview_ends(wxCommandEvent& event, int v, int stored)
{
    return v == stored || event.GetEventType() == wxEVT_SCROLL_THUMBRELEASE;
}

}  // namespace

#define METAL_SLIDER(handler, field, hu_expr)                                    \
    void MyFrame::handler(wxCommandEvent& event)                                 \
    {                                                                            \
        const int v = event.GetInt();                                            \
        if (metal_preview_ends(event, v, info.field)) {                          \
            info.field = v;                                                      \
            info.show_threshold = 0;                                             \
            info.threshold = slider(ID_THRESHOLD)->GetValue();                   \
            create_display_image();                                              \
            refresh_canvas();                                                    \
            return;                                                              \
        }                                                                        \
        const int stored = info.field;                                           \
        info.field = v;                                                          \
        metal_preview(v, stored, hu_expr);                                       \
    }

METAL_SLIDER(OnSliderMetalMetal, metal_threshold, v)
METAL_SLIDER(OnSliderMetalBack, metal_background, v)
METAL_SLIDER(OnSliderMetalAir, metal_air, v)
METAL_SLIDER(OnSliderMetalRange, metal_range, info.metal_background + v)

void MyFrame::OnMetal(wxCommandEvent&)
{
    wxString why;
    if (!metal_apply(&why) && !why.empty()) SetStatusText("Cannot correct: " + why, 0);
    refresh_canvas();
}

void MyFrame::OnMetalCont(wxCommandEvent&)
{
    wxString why;
    if (!metal_continue(&why) && !why.empty()) SetStatusText("Cannot correct: " + why, 0);
    refresh_canvas();
}

void MyFrame::OnMetalAll(wxCommandEvent&)
{
    const wxString refusal = mar_data_refusal();
    if (!refusal.empty()) {
        wxLogWarning("Cannot create MAR data: %s.", refusal);
        return;
    }
    mdt_all_frames([this] {
        canvas->Refresh(false);
        canvas->Update();
    });
    reset_controls();
    refresh_canvas();
}

void MyFrame::compare_reference()
{
    if (!info.ref_image || !info.processed_image) {
        SetStatusText("No reference image is loaded", 0);
        return;
    }
    compare_to_ref(0, 0, info.proc_width, info.proc_height);
}
