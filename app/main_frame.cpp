#include "app/main_frame.h"

#include <algorithm>
#include <cstring>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/choicdlg.h>
#include <wx/config.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/fs_arc.h>
#include <wx/html/helpctrl.h>
#include <wx/icon.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/stdpaths.h>

#include "app/main_app.h"
#include "app/dicom_info_dialog.h"
#include "app/gtk_style.h"
#include "app/main_controls.h"
#include "core/record.h"
#include "commands/filter_choice.h"
#include "commands/startup.h"
#include "app/version.h"
#include "display/canvas_colour.h"
#include "display/coordinates.h"
#include "display/display_image.h"
#include "display/status_texts.h"
#include "app/gl_canvas.h"
#include "app/gl_fonts.h"
#include "commands/loader_chain.h"
#include "commands/open_data_set.h"
#include "commands/pipeline.h"

#include "app/voxmira_icon.xpm"
#include "processing/colour.h"

const int ctrl_width = 220;

namespace {

// The splitter's minimum binds both panes, the canvas too.
const int min_pane_width = ctrl_width + 20;

// The sash for a canvas `want` pixels wide in a client area `client_w` wide. It must lie
// inside both panes' minimum: a sash asked for below it is clamped by the splitter but kept as
// the request, which then pins the canvas at the minimum and sends every later pixel of the
// frame's growth to the control pane.
int sash_for_canvas_width(int want, int client_w)
{
    return std::max(min_pane_width, std::min(want, client_w - min_pane_width));
}

}  // namespace
MyFrame* myframe = nullptr;
wxHtmlHelpController* help = nullptr;
bool help_found = false;

namespace {

const char* const help_missing = "Could not load Voxmira_help.zip, help system inactive";

struct menu_row {
    int menu;  // 0 File, 1 Display, 2 Help
    int id;    // 0 for a separator
    const char* label;
    const char* help_text;
    void (MyFrame::*handler)(wxCommandEvent&);
};

const menu_row menu_table[] = {
    {0, ID_OPEN, "&Open\tAlt-O", "Open a Dicom file or sequence of files", &MyFrame::OnOpen},
    {0, ID_OPEN_REF, "Open re&ference\tAlt-F", "Open a noise-free reference image file", &MyFrame::OnOpenRef},
    {0, ID_CLOSE, "&Close\tAlt-C", "Close current file", &MyFrame::OnClose},
    {0, ID_DICOM_INFO, "DICOM information", "List the DICOM elements of the current frame", &MyFrame::OnDicomInfo},
    {0, 0, nullptr, nullptr, nullptr},
    {0, ID_SAVE_DISPLAY, "Save &interpolated\tAlt-I", "Save current view to an image file", &MyFrame::OnSaveDisplayImage},
    {0, ID_SAVE_PROCESSED, "Save &processed\tAlt-P", "Save processed image to file", &MyFrame::OnSaveProcessedImage},
    {0, ID_SAVE_SEQUENCE, "Save s&equence\tAlt-E", "Save whole sequence to an image file", &MyFrame::OnSaveImageSeq},
    {0, 0, nullptr, nullptr, nullptr},
    {0, ID_PROCESS_DICOM, "Process DICO&M/TIFF\tAlt-M", "Save a new DICOM/TIFF data set as currently processed", &MyFrame::OnProcessDicom},
    {0, 0, nullptr, nullptr, nullptr},
    {0, ID_EXIT, "E&xit\tAlt-X", "Exit Voxmira", &MyFrame::OnExit},
    {1, ID_ZOOM_FIT, "&Zoom to fit\tAlt-Z", "Reset the zoom so the whole image is visible", &MyFrame::OnDisplayZoomFit},
    {1, ID_ZOOM_UNITY, "&Unity zoom\tAlt-U", "Set the zoom so one display pixel equals one image pixel", &MyFrame::OnDisplayZoomUnity},
    {1, ID_RESIZE, "&Resize to image\tAlt-R", "Reset the window size to the image size", &MyFrame::OnDisplayReSize},
    {1, 0, nullptr, nullptr, nullptr},
    {1, ID_REWINDOW, "Reset &windowing\tAlt-W", "Reset the windowing to that saved with the file", &MyFrame::OnDisplayReWindow},
    {1, ID_OVERLAY, "Display overla&y\tAlt-Y", "Display the windowing and line image overlay", &MyFrame::OnDisplayOverlay},
    {1, ID_FONT, "Overlay font", "Select the font used for the image overlays", &MyFrame::OnDisplayFont},
    {2, ID_HELP, "Help window\tF1", "View help on this software", &MyFrame::OnHelp},
    {2, 0, nullptr, nullptr, nullptr},
    {2, ID_ONLINE, "Online pages", "Use an external browser to access the online Voxmira pages", &MyFrame::OnOnline},
    {2, ID_UPDATE, "Check for updates", "Check for any more recent software releases", &MyFrame::OnUpdate},
    {2, 0, nullptr, nullptr, nullptr},
    {2, ID_ABOUT, "&About...", "Display information about this software", &MyFrame::OnAbout},
};

bool loaded() { return info.raw_image != nullptr; }

}  // namespace

MyFrame::MyFrame(const wxString& title, const wxPoint& pos, const wxSize& size, long style)
    : wxFrame(nullptr, wxID_ANY, title, pos, wxDefaultSize, style)
{
    myframe = this;
    install_window_style();
    SetIcon(wxIcon(voxmira_xpm));
    build_menus();

    splitter = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                    wxSP_3D | wxSP_LIVE_UPDATE, "splitter");
    canvas = new MyGLCanvas(splitter);
    build_controls();
    wxArrayString colours;
    for (int c = 0; c < colour_space_count; c++)
        colours.Add(wxString::Format("%s colour space", colour_space_name(c)));
    set_choice_items(ID_COLOUR, colours, info.colour);

    splitter->SetSashGravity(1.0);
    splitter->SetMinimumPaneSize(min_pane_width);
    CreateStatusBar(3);
    // The zoom and crop text of the middle field is the longest.
    const int status_widths[3] = {-2, -3, -2};
    SetStatusWidths(3, status_widths);

    // The client area asks for the image size plus the control pane; the whole window stays
    // on the screen so the status bar remains visible.
    SetClientSize(size);
    const wxRect screen = wxGetClientDisplayRect();
    const wxSize full = GetSize();
    if (full.x > screen.width || full.y > screen.height) {
        SetSize(std::min(full.x, screen.width), std::min(full.y, screen.height));
        Move(screen.GetTopLeft());
    } else if (pos != wxDefaultPosition) {
        Move(pos);
    }
    const int client_w = GetClientSize().x;
    splitter->SplitVertically(canvas, control_pane, sash_for_canvas_width(info.width, client_w));

    // Help book beside the executable.
    static bool handlers = false;
    if (!handlers) {
        handlers = true;
        wxFileSystem::AddHandler(new wxArchiveFSHandler);
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    }
    help_controller = new wxHtmlHelpController(wxHF_DEFAULT_STYLE, this);
    help = help_controller;
    help->UseConfig(wxConfig::Get());
    // The help book beside the executable (the build folder), else where an installation
    // puts it (share/voxmira beside bin).
    const wxString here = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPathWithSep();
    help_found = false;
    for (const wxString& book : {here + "Voxmira_help.zip", here + "../share/voxmira/Voxmira_help.zip"}) {
        wxLogNull quiet;
        if (wxFileName::FileExists(book) && help->AddBook(wxFileName(book))) {
            help_found = true;
            break;
        }
    }
    if (!help_found) SetStatusText(help_missing, 0);

    // Small enough for any screen, large enough that the control pages show a few rows
    // (they scroll for the rest) and the four page tabs fit side by side.
    SetMinSize(ClientToWindowSize(wxSize(2 * ctrl_width + 70, 320)));

    Bind(wxEVT_SIZE, &MyFrame::OnSize, this);
    Bind(wxEVT_CHAR_HOOK, &MyFrame::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &MyFrame::OnCloseWindow, this);
    DragAcceptFiles(true);
    canvas->DragAcceptFiles(true);
    Bind(wxEVT_DROP_FILES, &MyFrame::OnDropFiles, this);
    canvas->Bind(wxEVT_DROP_FILES, &MyFrame::OnDropFiles, this);
}

MyFrame::~MyFrame()
{
    delete recent;
    // The DICOM information item is owned by the menu only while it is in it.
    if (dicom_info_item && !file_menu->FindItem(ID_DICOM_INFO)) delete dicom_info_item;
    // A closed frame is destroyed later; by then a new one may own the global.
    if (help == help_controller) help = nullptr;
    delete help_controller;
    if (myframe == this) myframe = nullptr;
}

void MyFrame::build_menus()
{
    wxMenu* menus[3] = {file_menu = new wxMenu, display_menu = new wxMenu, help_menu = new wxMenu};
    for (const menu_row& row : menu_table) {
        if (row.id == 0) {
            menus[row.menu]->AppendSeparator();
            continue;
        }
        menus[row.menu]->Append(row.id, row.label, row.help_text);
        Bind(wxEVT_MENU, row.handler, this, row.id);
    }
    // Open Recent follows Open; its entries are wxID_FILE1 .. wxID_FILE9.
    wxMenu* recent_menu = new wxMenu;
    file_menu->Insert(1, wxID_ANY, "Open &recent", recent_menu, "Open one of the last data sets again");
    recent = new wxFileHistory(9, wxID_FILE1);
    recent->UseMenu(recent_menu);
    recent->Load(*wxConfig::Get());
    recent_placeholder(recent->GetCount() == 0);
    Bind(wxEVT_MENU, &MyFrame::OnOpenRecent, this, wxID_FILE1, wxID_FILE9);
    // DICOM information is taken out of the menu (and kept) until DICOM data are open.
    dicom_info_item = file_menu->FindItem(ID_DICOM_INFO);
    for (size_t k = 0; k < file_menu->GetMenuItemCount(); k++)
        if (file_menu->FindItemByPosition(k) == dicom_info_item) dicom_info_position = k;
    file_menu->Remove(dicom_info_item);
    wxMenuBar* bar = new wxMenuBar;
    bar->Append(file_menu, "&File");
    bar->Append(display_menu, "&Display");
    bar->Append(help_menu, "&Help");
    SetMenuBar(bar);
}

// An empty Open recent would pop up as a blank box: it holds a disabled "(none)" until the
// first data set opens. The entry goes before the history adds one, which would otherwise
// put a separator after it.
void MyFrame::recent_placeholder(bool shown)
{
    if (!recent || recent->GetMenus().IsEmpty()) return;
    wxMenu* menu = (wxMenu*)recent->GetMenus().GetFirst()->GetData();
    const int id = menu->FindItem("(none)");
    if (id != wxNOT_FOUND && !shown) menu->Destroy(id);
    if (id == wxNOT_FOUND && shown) menu->Append(wxID_ANY, "(none)")->Enable(false);
}

wxWindow* MyFrame::control(int id) const
{
    return id >= ID_FIRST_CONTROL && id <= ID_LAST_CONTROL ? controls[id - ID_FIRST_CONTROL]
                                                           : nullptr;
}
wxSlider* MyFrame::slider(int id) const { return dynamic_cast<wxSlider*>(control(id)); }
wxChoice* MyFrame::choice(int id) const { return dynamic_cast<wxChoice*>(control(id)); }
wxCheckBox* MyFrame::check(int id) const { return dynamic_cast<wxCheckBox*>(control(id)); }
wxStaticText* MyFrame::label(int id) const
{
    if (id == ID_SUBFILTER) return subsample_label;
    return id >= ID_FIRST_CONTROL && id <= ID_LAST_CONTROL ? labels[id - ID_FIRST_CONTROL]
                                                           : nullptr;
}

void MyFrame::show_row(int id, bool shown)
{
    if (wxWindow* w = control(id)) w->Show(shown);
    if (wxStaticText* l = label(id)) l->Show(shown);
}

void MyFrame::set_choice_items(int id, const wxArrayString& items, int selection)
{
    wxChoice* c = choice(id);
    if (!c) return;
    c->Set(items);
    if (selection >= 0 && selection < (int)c->GetCount()) c->SetSelection(selection);
}

wxSize MyFrame::SizeToPixels(wxSize dialog_units)
{
    wxSize s = ConvertDialogToPixels(dialog_units);
    if (s.x > 0) s.x += 15;
    return s;
}

void MyFrame::update_menu_states()
{
    const bool data = loaded();
    wxMenuBar* bar = GetMenuBar();
    bar->Enable(ID_CLOSE, data);
    bar->Enable(ID_SAVE_DISPLAY, data);
    bar->Enable(ID_SAVE_PROCESSED, data);
    bar->Enable(ID_SAVE_SEQUENCE, data && info.frames > 1);
    bar->Enable(ID_OPEN_REF, data && info.open_filter == OPEN_IMAGE);
    // DICOM information is in the menu only while DICOM data are open.
    const bool dicom = data && is_dicom_type(info.file_type);
    if (dicom && !file_menu->FindItem(ID_DICOM_INFO))
        file_menu->Insert(dicom_info_position, dicom_info_item);
    else if (!dicom && file_menu->FindItem(ID_DICOM_INFO))
        file_menu->Remove(dicom_info_item);
    // Sub-sampled data are not written as a data set.
    bar->Enable(ID_PROCESS_DICOM, data && (info.dicom_output || info.tiff_output) && info.subsample == 1);
    for (int id : {ID_ZOOM_FIT, ID_ZOOM_UNITY, ID_RESIZE, ID_REWINDOW, ID_OVERLAY, ID_FONT})
        bar->Enable(id, data);
    bar->Enable(ID_HELP, help_found);
}

void MyFrame::reset_controls()
{
    Freeze();
    const bool data = loaded();
    update_menu_states();

    // Ranges that follow the data.
    auto set_range = [this](int id, int lo, int hi) {
        if (wxSlider* s = slider(id)) s->SetRange(lo, std::max(hi, lo + 1));
    };
    // One frame shows as that frame alone.
    if (info.frames > 1)
        set_range(ID_FRAME, info.first_frame, info.first_frame + info.frames - 1);
    else
        show_single_value(slider(ID_FRAME), info.first_frame);
    set_range(ID_METAL_METAL, info.data_min, info.data_max);
    set_range(ID_METAL_BACK, info.data_min, info.data_max);
    set_range(ID_METAL_AIR, info.data_min, info.data_max);
    set_range(ID_METAL_RANGE, 0, (info.data_max - info.data_min) / 4);
    // The level reaches the data maximum of wide-range data; 443 covers colour data.
    set_range(ID_LEVEL, 1, level_slider_maximum());

    // The channel choice lists the channels of the processing colour space.
    if (info.colour == COLOUR_GREY) info.channel = 0;
    wxArrayString channels;
    channels.Add("All channels");
    for (int k = 0; k < info.channels && k < 4; k++)
        channels.Add(wxString::Format("%s channel", colour_channel_name(info.colour, k)));
    set_choice_items(ID_CHANNEL, channels, info.channel);

    // Every control from its record field.
    for (const control_row& row : control_table()) {
        if (!row.value) continue;
        const int v = (int)row.value();
        switch (row.kind) {
        case control_kind::check: check(row.id)->SetValue(v != 0); break;
        case control_kind::slider: slider(row.id)->SetValue(v); break;
        case control_kind::choice:
            if (v >= 0 && v < (int)choice(row.id)->GetCount()) choice(row.id)->SetSelection(v);
            break;
        case control_kind::button: break;
        }
    }

    // Enabled with data.
    control(ID_SUBSAMPLE)->Enable(data);
    control(ID_SUBFILTER)->Enable(data);
    subsample_label->Enable(data);
    show_row(ID_COLOUR, data && info.data_colour != COLOUR_GREY);
    show_row(ID_CHANNEL, data && info.data_colour != COLOUR_GREY);
    control(ID_CHANNEL)->Enable(info.colour != COLOUR_GREY);
    for (int id : {ID_NOISE, ID_FILTER, ID_FILTER_SIZE, ID_THRESHOLD, ID_INTERP, ID_GRADIENT,
                   ID_SHOW_THRESHOLD, ID_USE_LEVEL})
        control(id)->Enable(data);
    if (label(ID_FILTER_SIZE)) label(ID_FILTER_SIZE)->Enable(data);
    control(ID_METAL_ALL)->Enable(info.dicom_output || info.tiff_output);
    control(ID_FRAME)->Enable(info.frames > 1);
    label(ID_FRAME)->Enable(info.frames > 1);

    // Rows that depend on the filter.
    const filter_rows rows = apply_filter_choice();
    const bool centile_row = rows.centile, level_row = rows.level, mask_row = rows.mask;
    const wxString centile_label = rows.centile_label;
    const int centile_value = rows.centile_value;
    label(ID_CENTILE)->SetLabel(centile_label);
    slider(ID_CENTILE)->SetValue(centile_value);
    show_row(ID_CENTILE, data && centile_row);
    for (int id : {ID_USE_LEVEL, ID_AUTO_LEVEL, ID_LEVEL, ID_MULTIRES}) show_row(id, data && level_row);
    show_row(ID_ITERATIONS, data && level_row && info.filter_iterate);
    check(ID_MULTIRES)->SetLabel(info.filter_iterate ? "Multi-resolution levels:"
                                                     : "Multi-resolution filter");
    control(ID_AUTO_LEVEL)->Enable(!info.dicom_output && !info.tiff_output);
    show_row(ID_MASK, data && mask_row);
    show_row(ID_ANGLE, data && mask_row && mask_has_orientation(info.mask));

    // Detail, high pass and noise display exclude one another.
    show_row(ID_DETAIL, data && info.filter != FILTER_NONE && !info.show_hipass && !info.show_noise);
    show_row(ID_HIPASS, data && info.filter != FILTER_NONE && !info.show_noise);
    show_row(ID_SHOW_NOISE, data && !info.show_hipass);

    // Reconstruction parameters apply to simulated acquisitions; the FDK choice to micro-CT.
    for (int id : {ID_RECON_SCALE, ID_RECON_ANGLE, ID_RECON_FILTER, ID_RECON_NOISE})
        show_row(id, !info.rsq_loaded);
    show_row(ID_XTREME_RECON, info.rsq_loaded != 0);

    // Title.
    wxString title = wxString("Voxmira v") + VOXMIRA_VERSION;
    if (!info.file_name.empty()) {
        title += ": '" + wxFileName(info.file_name).GetFullName() + "'";
        if (!info.ref_file_name.empty())
            title += " with ref '" + wxFileName(info.ref_file_name).GetFullName() + "'";
    }
    SetTitle(title);

    update_zoom_crop_status();
    // Field 0 is cleared, except that a missing help book stays reported.
    SetStatusText(help_found ? "" : help_missing, 0);
    SetStatusText("", 2);
    Thaw();
    for (int i = 0; i < 4; i++) {
        page[i]->Layout();
        page[i]->FitInside();
    }
    control_pane->Layout();
    canvas->Refresh(false);
}

void MyFrame::update_zoom_crop_status()
{
    if (loaded()) SetStatusText(zoom_crop_text(), 1);
}

void MyFrame::update_windowing_status()
{
    if (loaded()) SetStatusText(windowing_text(), 1);
}

void MyFrame::update_colour_status()
{
    if (!loaded()) return;
    // Outside the image the read-out is cleared rather than left at the last pixel's value.
    SetStatusText(colour_readout_text(), 2);
}

void MyFrame::refresh_canvas()
{
    // With the automatic level the pipeline has just set the level: the slider follows.
    if (info.levelling && slider(ID_LEVEL) && slider(ID_LEVEL)->GetValue() != info.level)
        slider(ID_LEVEL)->SetValue(std::clamp(info.level, slider(ID_LEVEL)->GetMin(), slider(ID_LEVEL)->GetMax()));
    canvas->Refresh(false);
    canvas->Update();
}

// Display menu.

void MyFrame::OnDisplayZoomFit(wxCommandEvent&)
{
    set_default_zoom();
    info.filter != FILTER_NONE ? process_image() : create_display_image();
    refresh_canvas();
    update_zoom_crop_status();
}

void MyFrame::OnDisplayZoomUnity(wxCommandEvent&)
{
    info.zoom_mode = 1;
    info.zoom = 1.0;
    info.filter != FILTER_NONE ? process_image() : create_display_image();
    refresh_canvas();
    update_zoom_crop_status();
}

void MyFrame::OnDisplayReSize(wxCommandEvent&)
{
    info.zoom_mode = 1;
    info.zoom = 1.0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    splitter->SetSashPosition(sash_for_canvas_width(info.width, GetClientSize().x));
    const wxSize now = canvas->GetClientSize();
    const wxSize frame = GetSize();
    SetSize(frame.x + std::max(info.width, min_pane_width) - now.x, frame.y + info.height - now.y);
    splitter->SetSashPosition(sash_for_canvas_width(info.width, GetClientSize().x));
    info.filter != FILTER_NONE ? process_image() : create_display_image();
    refresh_canvas();
    update_zoom_crop_status();
}

void MyFrame::OnDisplayReWindow(wxCommandEvent&)
{
    info.window_centre = info.default_centre;
    info.window_range = std::max(info.default_range, 1);
    create_display_image();
    refresh_canvas();
    update_windowing_status();
}

void MyFrame::OnDisplayOverlay(wxCommandEvent&)
{
    info.overlay = !info.overlay;
    refresh_canvas();
}

void MyFrame::OnDisplayFont(wxCommandEvent&)
{
    wxArrayString names;
    for (int i = 0; i < gl_font_count; i++) names.Add(gl_font_info[i].name);
    wxSingleChoiceDialog dialog(this, "Use:", "Overlay font", names);
    dialog.SetSelection(std::clamp(info.font_index, 0, gl_font_count - 1));
    if (dialog.ShowModal() != wxID_OK) return;
    info.font_index = dialog.GetSelection();
    if (canvas->IsShownOnScreen()) canvas->SetCurrent(*canvas->context);
    delete info.font;
    info.font = nullptr;
    canvas->gl_ready = false;
    refresh_canvas();
}

// File menu: Close and Exit; the rest live in main_frame_files.cpp.

void MyFrame::OnClose(wxCommandEvent&)
{
    reset_info();
    allocate_display_and_fit();
    create_display_image();
    reset_controls();
    // The zoom, timing and read-out texts described the data set that is gone.
    SetStatusText(wxString(), 1);
    SetStatusText(wxString(), 2);
    refresh_canvas();
}

void MyFrame::OnExit(wxCommandEvent&) { Close(false); }

void MyFrame::OnDicomInfo(wxCommandEvent&) { show_dicom_information(this); }

void MyFrame::OnSize(wxSizeEvent& event)
{
    if (control_pane) control_pane->Layout();
    event.Skip();
}

void MyFrame::OnCloseWindow(wxCloseEvent&)
{
    wxTheApp->Unbind(wxEVT_IDLE, &MyApp::OnIdle, &wxGetApp());
    if (help_controller && help_controller->GetFrame()) help_controller->GetFrame()->Close(true);
    release_array(info.histogram);
    if (myframe == this) myframe = nullptr;
    Destroy();
}

void MyFrame::OnCharHook(wxKeyEvent& event)
{
    const int code = event.GetKeyCode();
    if (event.GetModifiers() == wxMOD_ALT && code >= 'A' && code <= 'Z') {
        for (const menu_row& row : menu_table) {
            if (!row.label) continue;
            const char* tab = std::strchr(row.label, '\t');
            if (!tab || std::strncmp(tab + 1, "Alt-", 4) != 0 || tab[5] != code || tab[6]) continue;
            if (GetMenuBar()->IsEnabled(row.id)) {
                wxCommandEvent command(wxEVT_MENU, row.id);
                command.SetEventObject(this);
                ProcessWindowEvent(command);
            }
            return;
        }
    }
    event.Skip();
}

void MyFrame::OnDropFiles(wxDropFilesEvent& event)
{
    if (event.GetNumberOfFiles() < 1) return;
    open_dropped_file(event.GetFiles()[0]);
}

bool MyFrame::open_dropped_file(const wxString& path)
{
    // As the Open command's "All files" would, except that every loader is tried in
    // start-up order.
    // A file that does not open leaves the window as it was (the loaders have said why).
    if (!open_data_set(path, OPEN_ANY, true)) return false;
    remember_file(path);
    reset_controls();
    refresh_canvas();
    return true;
}
