#include "app/main_controls.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/wrapsizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>

#include "app/main_frame.h"
#include "core/record.h"
#include "display/interpolation.h"
#include "processing/colour.h"
#include "processing/filter_dispatch.h"

const char* const control_page_names[4] = {"Display", "Process", "CT Recon", "CT Metal"};

namespace {

const char* const noise_items[] = {"Additive noise", "Sensor noise 1", "Sensor noise 2", nullptr};

// The items of a choice whose labels a lower floor owns, null-terminated.
template <int N>
const char* const* labels_of(const char* (*label)(int))
{
    static const char* items[N + 1];
    for (int k = 0; k < N; k++) items[k] = label(k);
    items[N] = nullptr;
    return items;
}
const char* const mask_items[] = {
    "Fixed circular mask", "Varying mask (Bitonic V)", "Local mask (Bitonic X)",
    "Fixed square mask", "Fixed cross mask", "Fixed line mask", "Fixed ellipse mask",
    "Use area attribute", nullptr};
const char* const xtreme_load_items[] = {"Sinogram", "X-ray projection", "Reconstruction x1",
                                         "Reconstruction x2", "Reconstruction x3", nullptr};
const char* const xtreme_recon_items[] = {"Planar projection", "Parallel-FDK", nullptr};
const char* const metal_items[] = {"No correction", "Basic LI", "NMAR", "LI + NMAR", "RMAR",
                                   "RMAR (no back)", "RMAR (predict back)", nullptr};

using K = control_kind;
using R = control_redo;
// A field shown by a control whose handler has its own rules.
#define FIELD(f) [] { return (long long)info.f; }, nullptr, R::none, false, false
// A field the common handler stores, then re-runs `redo` (resetting the controls first
// when `resets`, ignoring repeats of the stored value when `changes`).
#define STORE(f, redo, resets, changes) \
    [] { return (long long)info.f; }, [](long long v) { info.f = (decltype(info.f))v; }, redo, resets, changes
#define BUTTON nullptr, nullptr, R::none, false, false
#define SHOW(f) [] { return (long long)info.f; }

void store_subsample(long long v) { info.subsample = (int)std::max(v, 1LL); }
void store_noise_kind(long long v)
{
    info.noise_kind = (int)v;
    info.noise_colour = v != 0 && info.data_colour == COLOUR_RGB;
}
// High pass and the noise display exclude one another.
void store_hipass(long long v)
{
    info.show_hipass = v != 0;
    if (info.show_hipass) info.show_noise = 0;
}

}  // namespace

const std::vector<control_row>& control_table()
{
    static const std::vector<control_row> table = {
        // Display
        {0, ID_SUBFILTER, K::check, "Sub-sample (", "+ filter) by:", 0, 1, nullptr, STORE(subsample_filter, R::sample, false, false), nullptr, false},
        {0, ID_SUBSAMPLE, K::slider, nullptr, nullptr, 1, 20, nullptr, SHOW(subsample), store_subsample, R::sample, false, true, nullptr, true},
        {0, ID_COLOUR, K::choice, nullptr, nullptr, 0, 0, nullptr, FIELD(colour), &MyFrame::OnChoiceColour, false},
        {0, ID_CHANNEL, K::choice, nullptr, nullptr, 0, 0, nullptr, FIELD(channel), &MyFrame::OnChoiceChannel, false},
        {0, ID_INTERP, K::choice, nullptr, nullptr, 0, 0, labels_of<INTERP_KINDS>(interp_label), FIELD(interp), &MyFrame::OnChoiceInterp, false},
        {0, ID_GRADIENT, K::check, nullptr, "Gradient,", 0, 1, nullptr, STORE(show_gradient, R::display, false, false), nullptr, false},
        {0, ID_SHOW_THRESHOLD, K::check, nullptr, "Level:", 0, 1, nullptr, STORE(show_threshold, R::display, false, false), nullptr, true},
        {0, ID_THRESHOLD, K::slider, nullptr, nullptr, 0, 255, nullptr, FIELD(threshold), &MyFrame::OnSliderThreshold, true},
        // Process
        {1, ID_NOISE, K::choice, nullptr, nullptr, 0, 0, noise_items, SHOW(noise_kind), store_noise_kind, R::process, true, false, nullptr, false},
        {1, ID_SHOW_NOISE, K::check, nullptr, "Show", 0, 1, nullptr, FIELD(show_noise), &MyFrame::OnCheckNoise, true},
        {1, ID_FILTER, K::choice, nullptr, nullptr, 0, 0, labels_of<FILTER_KINDS>(filter_label), STORE(filter, R::process, true, false), nullptr, false},
        {1, ID_FILTER_SIZE, K::slider, "Filter range:", nullptr, 1, 20, nullptr, STORE(filter_size, R::process, false, true), nullptr, false},
        {1, ID_USE_LEVEL, K::check, nullptr, "Data level (", 0, 1, nullptr, STORE(use_level, R::process, true, false), nullptr, false},
        {1, ID_AUTO_LEVEL, K::check, nullptr, "auto ):", 0, 1, nullptr, STORE(levelling, R::process, true, false), nullptr, true},
        {1, ID_LEVEL, K::slider, nullptr, nullptr, 1, 256, nullptr, STORE(level, R::process, false, true), nullptr, true},
        {1, ID_MULTIRES, K::check, nullptr, "Multi-resolution filter", 0, 1, nullptr, STORE(filter_iterate, R::process, true, false), nullptr, false},
        {1, ID_ITERATIONS, K::slider, nullptr, nullptr, 2, 10, nullptr, STORE(iterations, R::process, false, true), nullptr, true},
        {1, ID_MASK, K::choice, nullptr, nullptr, 0, 0, mask_items, STORE(mask, R::process, true, false), nullptr, false},
        {1, ID_ANGLE, K::slider, "Mask orientation:", nullptr, 0, 180, nullptr, STORE(angle, R::process, false, true), nullptr, false},
        {1, ID_CENTILE, K::slider, "Mask centile:", nullptr, 0, 50, nullptr, FIELD(centile), &MyFrame::OnSliderFiltCentile, false},
        {1, ID_HIPASS, K::check, nullptr, "High pass, or enhance:", 0, 1, nullptr, SHOW(show_hipass), store_hipass, R::display, true, false, nullptr, false},
        {1, ID_DETAIL, K::slider, nullptr, nullptr, 0, 50, nullptr, STORE(detail, R::display, false, true), nullptr, true},
        // CT Recon
        {2, ID_RECON_SCALE, K::slider, "Relative Scale (%):", nullptr, 1, 200, nullptr, STORE(recon_scale, R::none, false, false), nullptr, false},
        {2, ID_RECON_ANGLE, K::slider, "Angle Scale (%):", nullptr, 1, 200, nullptr, STORE(recon_angle, R::none, false, false), nullptr, false},
        {2, ID_RECON_FILTER, K::slider, "Filter Parameter:", nullptr, 1, 100, nullptr, STORE(recon_filter, R::none, false, false), nullptr, false},
        {2, ID_RECON_NOISE, K::slider, "Detection noise (dB):", nullptr, 0, 80, nullptr, STORE(recon_noise, R::none, false, false), nullptr, false},
        {2, ID_XTREME_LOAD, K::choice, nullptr, nullptr, 0, 0, xtreme_load_items, FIELD(xtreme_load), &MyFrame::OnChoiceXtremeLoad, false},
        {2, ID_XTREME_RECON, K::choice, nullptr, nullptr, 0, 0, xtreme_recon_items, FIELD(xtreme_recon), &MyFrame::OnChoiceXtremeRecon, false},
        {2, ID_RECON, K::button, nullptr, "Reconstruct", 0, 0, nullptr, BUTTON, &MyFrame::OnRecon, false},
        {2, ID_RECON_RESET, K::button, nullptr, "Reset", 0, 0, nullptr, BUTTON, &MyFrame::OnReset, true},
        // CT Metal
        {3, ID_METAL_CHOICE, K::choice, nullptr, nullptr, 0, 0, metal_items, FIELD(metal_choice), &MyFrame::OnChoiceMetal, false},
        {3, ID_METAL_SMOOTH, K::slider, "Smoothing (pixels):", nullptr, 0, 40, nullptr, STORE(metal_smooth, R::none, false, false), nullptr, false},
        {3, ID_METAL_SMOOTH_FRAMES, K::slider, "Smoothing (frames):", nullptr, 0, 40, nullptr, STORE(metal_smooth_frames, R::none, false, false), nullptr, false},
        {3, ID_METAL_METAL, K::slider, "Metal (HU):", nullptr, 0, 4000, nullptr, FIELD(metal_threshold), &MyFrame::OnSliderMetalMetal, false},
        {3, ID_METAL_BACK, K::slider, "Background (HU):", nullptr, -1000, 2000, nullptr, FIELD(metal_background), &MyFrame::OnSliderMetalBack, false},
        {3, ID_METAL_AIR, K::slider, "Air (HU):", nullptr, -1000, 1000, nullptr, FIELD(metal_air), &MyFrame::OnSliderMetalAir, false},
        {3, ID_METAL_RANGE, K::slider, "Range (HU):", nullptr, 0, 1000, nullptr, FIELD(metal_range), &MyFrame::OnSliderMetalRange, false},
        {3, ID_METAL_ITER, K::slider, "Max iterations:", nullptr, 1, 10, nullptr, STORE(metal_iterations, R::none, false, false), nullptr, false},
        {3, ID_METAL_CONV, K::slider, "Min change (x 0.001 %):", nullptr, 0, 100, nullptr, STORE(metal_convergence, R::none, false, false), nullptr, false},
        {3, ID_METAL_APPLY, K::button, nullptr, "Apply", 0, 0, nullptr, BUTTON, &MyFrame::OnMetal, false},
        {3, ID_METAL_CONT, K::button, nullptr, "Cont.", 0, 0, nullptr, BUTTON, &MyFrame::OnMetalCont, true},
        {3, ID_METAL_RESET, K::button, nullptr, "Reset", 0, 0, nullptr, BUTTON, &MyFrame::OnReset, true},
        {3, ID_METAL_ALL, K::button, nullptr, "Create MAR data", 0, 0, nullptr, BUTTON, &MyFrame::OnMetalAll, false},
        // Below the pages
        {4, ID_FRAME, K::slider, "Frame number:", nullptr, 0, 0, nullptr, FIELD(frame), nullptr, false},
    };
    return table;
}

const control_row* find_control_row(int id)
{
    for (const control_row& row : control_table())
        if (row.id == id) return &row;
    return nullptr;
}

// Every page is a scrolled panel of rows; a row is a horizontal sizer of an optional
// label and its controls, 5 pixels of border around each.
void MyFrame::build_controls()
{
    control_pane = new wxPanel(splitter, wxID_ANY);
    wxBoxSizer* pane_sizer = new wxBoxSizer(wxVERTICAL);
    pages = new wxNotebook(control_pane, wxID_ANY);
    wxBoxSizer* page_sizer[4];
    for (int i = 0; i < 4; i++) {
        page[i] = new wxScrolledWindow(pages, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                       wxVSCROLL | wxTAB_TRAVERSAL);
        page[i]->SetScrollRate(10, 10);
        // Rows wrap to the page width instead of scrolling sideways.
        page[i]->EnableScrolling(false, true);
        page[i]->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
        page_sizer[i] = new wxBoxSizer(wxVERTICAL);
        page[i]->SetSizer(page_sizer[i]);
        pages->AddPage(page[i], control_page_names[i]);
    }
    pane_sizer->Add(pages, 1, wxEXPAND);

    // A row wraps when the pane is too narrow for it: the control moves below its label.
    wxSizer* row_sizer = nullptr;
    for (const control_row& row : control_table()) {
        wxWindow* parent = row.page < 4 ? (wxWindow*)page[row.page] : (wxWindow*)control_pane;
        wxBoxSizer* column = row.page < 4 ? page_sizer[row.page] : pane_sizer;
        if (!row.joins_previous || !row_sizer) {
            row_sizer = new wxWrapSizer(wxHORIZONTAL);
            column->Add(row_sizer, 0, wxEXPAND | wxALL, 5);
        }
        const int slot = row.id - ID_FIRST_CONTROL;
        if (row.prefix) {
            wxStaticText* text = new wxStaticText(parent, wxID_ANY, row.prefix);
            row_sizer->Add(text, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
            if (row.kind == control_kind::check)
                subsample_label = text;
            else
                labels[slot] = text;
        }
        wxWindow* w = nullptr;
        const long long v = row.value ? row.value() : 0;
        switch (row.kind) {
        case control_kind::check: {
            wxCheckBox* box = new wxCheckBox(parent, row.id, row.text);
            box->SetValue(v != 0);
            Bind(wxEVT_CHECKBOX, row.handler ? row.handler : &MyFrame::OnControl, this, row.id);
            w = box;
            row_sizer->Add(w, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
            break;
        }
        case control_kind::slider: {
            const int hi = row.hi > row.lo ? row.hi : row.lo + 1;
            wxSlider* s = new wxSlider(parent, row.id, (int)std::clamp<long long>(v, row.lo, hi),
                                       row.lo, hi, wxDefaultPosition, wxSize(150, -1),
                                       wxSL_HORIZONTAL | wxSL_VALUE_LABEL | wxSL_MIN_MAX_LABELS);
            // Every scroll event, so changes apply while the thumb moves.
            for (const auto& t : std::initializer_list<wxEventTypeTag<wxScrollEvent>>{wxEVT_SCROLL_TOP, wxEVT_SCROLL_BOTTOM, wxEVT_SCROLL_LINEUP,
                                  wxEVT_SCROLL_LINEDOWN, wxEVT_SCROLL_PAGEUP,
                                  wxEVT_SCROLL_PAGEDOWN, wxEVT_SCROLL_THUMBTRACK,
                                  wxEVT_SCROLL_THUMBRELEASE, wxEVT_SCROLL_CHANGED}) {
                if (row.id == ID_FRAME)
                    Bind(t, &MyFrame::OnSliderFrame, this, row.id);
                else
                    Bind(t, row.handler ? row.handler : &MyFrame::OnControl, this, row.id);
            }
            w = s;
            row_sizer->Add(w, 1, wxALIGN_CENTER_VERTICAL);
            break;
        }
        case control_kind::choice: {
            wxChoice* c = new wxChoice(parent, row.id);
            if (row.items)
                for (const char* const* item = row.items; *item; item++) c->Append(*item);
            if ((int)v < (int)c->GetCount()) c->SetSelection((int)v);
            Bind(wxEVT_CHOICE, row.handler ? row.handler : &MyFrame::OnControl, this, row.id);
            w = c;
            row_sizer->Add(w, 1, wxALIGN_CENTER_VERTICAL);
            break;
        }
        case control_kind::button: {
            wxButton* b = new wxButton(parent, row.id, row.text, wxDefaultPosition, wxDefaultSize,
                                       wxBU_EXACTFIT);
            Bind(wxEVT_BUTTON, row.handler, this, row.id);
            w = b;
            row_sizer->Add(w, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
            break;
        }
        }
        controls[slot] = w;
    }
    control_pane->SetSizer(pane_sizer);
    for (int i = 0; i < 4; i++) page[i]->FitInside();
}
