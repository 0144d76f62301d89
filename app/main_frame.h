// The main window: menus, the splitter with the canvas and the four control pages, the
// frame slider, the three-field status bar and the help controller.
//
// Files: main_frame.cpp (construction, reset_controls, status texts, Display menu),
// main_controls.cpp (the control table and the pages built from it), main_handlers.cpp
// (control handlers), main_frame_files.cpp (open, save, frame slider), help/ (Help menu).
#pragma once

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/splitter.h>

class MyGLCanvas;
class wxBoxSizer;
class wxButton;
class wxCheckBox;
class wxChoice;
class wxDropFilesEvent;
class wxFileHistory;
class wxMenuItem;
class wxHtmlHelpController;
class wxPanel;
class wxScrolledWindow;
class wxSlider;
class wxStaticText;

// Nominal width of the control pane, pixels.
extern const int ctrl_width;

enum {
    ID_OPEN = 6000,
    ID_OPEN_REF = 6001,
    ID_CLOSE = 6002,
    ID_SAVE_DISPLAY = 6003,
    ID_SAVE_PROCESSED = 6004,
    ID_SAVE_SEQUENCE = 6005,
    ID_PROCESS_DICOM = 6007,
    ID_EXIT = 6008,
    ID_ZOOM_FIT = 6009,
    ID_ZOOM_UNITY = 6010,
    ID_RESIZE = 6011,
    ID_REWINDOW = 6012,
    ID_OVERLAY = 6013,
    ID_FONT = 6014,
    ID_ABOUT = 6015,
    ID_HELP = 6016,
    ID_ONLINE = 6017,
    ID_UPDATE = 6018,
    ID_DICOM_INFO = 6019,

    ID_SUBSAMPLE = 6024,
    ID_SUBFILTER = 6025,
    ID_INTERP = 6026,
    ID_NOISE = 6027,
    ID_FILTER = 6028,
    ID_COLOUR = 6029,
    ID_CHANNEL = 6030,
    ID_MASK = 6031,
    ID_FILTER_SIZE = 6032,
    ID_CENTILE = 6033,
    ID_LEVEL = 6034,
    ID_ANGLE = 6035,
    ID_ITERATIONS = 6036,
    ID_DETAIL = 6037,
    ID_GRADIENT = 6039,
    ID_SHOW_THRESHOLD = 6040,
    ID_USE_LEVEL = 6041,
    ID_AUTO_LEVEL = 6042,
    ID_HIPASS = 6043,
    ID_SHOW_NOISE = 6044,
    ID_MULTIRES = 6045,
    ID_THRESHOLD = 6046,
    ID_FRAME = 6047,
    ID_RECON = 6048,
    ID_RECON_RESET = 6049,
    ID_RECON_SCALE = 6050,
    ID_RECON_ANGLE = 6051,
    ID_RECON_FILTER = 6052,
    ID_RECON_NOISE = 6053,
    ID_XTREME_LOAD = 6054,
    ID_XTREME_RECON = 6055,
    ID_METAL_CHOICE = 6056,
    ID_METAL_SMOOTH = 6057,
    ID_METAL_SMOOTH_FRAMES = 6058,
    ID_METAL_BACK = 6059,
    ID_METAL_AIR = 6060,
    ID_METAL_RANGE = 6061,
    ID_METAL_METAL = 6062,
    ID_METAL_ITER = 6063,
    ID_METAL_CONV = 6064,
    ID_METAL_APPLY = 6065,
    ID_METAL_CONT = 6066,
    ID_METAL_RESET = 6067,
    ID_METAL_ALL = 6068,
    ID_FIRST_CONTROL = 6024,
    ID_LAST_CONTROL = 6068,
};

class MyFrame : public wxFrame {
public:
    MyFrame(const wxString& title, const wxPoint& pos, const wxSize& size,
            long style = wxDEFAULT_FRAME_STYLE | wxCLIP_CHILDREN);
    ~MyFrame() override;

    // Brings every control, menu state, the title and the status into line with the record.
    void reset_controls();
    // The menu items' enabled states alone, for changes that move no control.
    void update_menu_states();
    // Status texts: zoom and crop, windowing (field 1); the pixel read-out (field 2).
    void update_zoom_crop_status();
    void update_windowing_status();
    void update_colour_status();
    // Dialog units to pixels; a positive width grows by 15 pixels.
    wxSize SizeToPixels(wxSize dialog_units);

    // The controls by command id (null for ids without a control).
    wxWindow* control(int id) const;
    wxSlider* slider(int id) const;
    wxChoice* choice(int id) const;
    wxCheckBox* check(int id) const;
    // The label in front of a control row (null when the row has none).
    wxStaticText* label(int id) const;

    // File menu.
    void OnOpen(wxCommandEvent& event);
    void OnOpenRef(wxCommandEvent& event);
    void OnClose(wxCommandEvent& event);
    void OnSaveDisplayImage(wxCommandEvent& event);
    void OnSaveProcessedImage(wxCommandEvent& event);
    void OnSaveImageSeq(wxCommandEvent& event);
    void OnProcessDicom(wxCommandEvent& event);
    void OnExit(wxCommandEvent& event);
    // Display menu.
    void OnDisplayZoomFit(wxCommandEvent& event);
    void OnDisplayZoomUnity(wxCommandEvent& event);
    void OnDisplayReSize(wxCommandEvent& event);
    void OnDisplayReWindow(wxCommandEvent& event);
    void OnDisplayOverlay(wxCommandEvent& event);
    void OnDisplayFont(wxCommandEvent& event);
    // Help menu (help/).
    void OnHelp(wxCommandEvent& event);
    void OnOnline(wxCommandEvent& event);
    void OnUpdate(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);

    // Controls.
    void OnControl(wxCommandEvent& event);
    void OnChoiceColour(wxCommandEvent& event);
    void OnChoiceChannel(wxCommandEvent& event);
    void OnChoiceInterp(wxCommandEvent& event);
    void OnSliderThreshold(wxCommandEvent& event);
    void OnCheckNoise(wxCommandEvent& event);
    void OnSliderFiltCentile(wxCommandEvent& event);
    void OnChoiceXtremeLoad(wxCommandEvent& event);
    void OnChoiceXtremeRecon(wxCommandEvent& event);
    void OnRecon(wxCommandEvent& event);
    void OnReset(wxCommandEvent& event);
    void OnChoiceMetal(wxCommandEvent& event);
    void OnSliderMetalMetal(wxCommandEvent& event);
    void OnSliderMetalBack(wxCommandEvent& event);
    void OnSliderMetalAir(wxCommandEvent& event);
    void OnSliderMetalRange(wxCommandEvent& event);
    void OnMetal(wxCommandEvent& event);
    void OnMetalCont(wxCommandEvent& event);
    void OnMetalAll(wxCommandEvent& event);
    void OnSliderFrame(wxScrollEvent& event);

    void OnSize(wxSizeEvent& event);
    // The menus' Alt accelerators, taken before the toolkit's menu mnemonics can claim them
    // (GTK gives Alt-F to the File menu otherwise).
    void OnCharHook(wxKeyEvent& event);
    void OnCloseWindow(wxCloseEvent& event);
    // A file dropped on the window opens as the Open command would, trying the loaders in
    // start-up order.
    void OnDropFiles(wxDropFilesEvent& event);
    bool open_dropped_file(const wxString& path);
    // What the Open command does once its dialog has chosen: false (the window as it was)
    // when the file is refused.
    bool open_file(const wxString& path, int filter);
    // Shows frame n, clamped to the data set's frames: the frame slider and the canvas's frame keys.
    void show_frame(int n);

    // Repeats the reference comparison over the whole processed image (keys N and M, the
    // channel choice); reports in status field 0.
    void compare_reference();

    wxSplitterWindow* splitter = nullptr;
    MyGLCanvas* canvas = nullptr;
    wxPanel* control_pane = nullptr;
    wxNotebook* pages = nullptr;
    wxScrolledWindow* page[4] = {};
    wxMenu* file_menu = nullptr;
    wxMenu* display_menu = nullptr;
    wxMenu* help_menu = nullptr;
    // File > Open Recent: the last nine data sets opened, kept between runs in wxConfig.
    wxFileHistory* recent = nullptr;
    wxMenuItem* dicom_info_item = nullptr;
    size_t dicom_info_position = 0;
    // Adds a data set that opened to Open Recent (and to the stored list).
    void remember_file(const wxString& path);
    // Shows or removes the disabled "(none)" entry of an empty Open recent.
    void recent_placeholder(bool shown);
    void OnDicomInfo(wxCommandEvent& event);

private:
    void OnOpenRecent(wxCommandEvent& event);
    void build_menus();
    void build_controls();
    void refresh_canvas();
    // Reloads the open micro-CT record (reload_rsq_file) and brings the window up to date.
    void reload_raw_data(bool flush_cache, bool reset_window);
    void metal_preview(int value, int stored, int hu);
    void show_row(int id, bool shown);
    void set_choice_items(int id, const wxArrayString& items, int selection);

    wxWindow* controls[ID_LAST_CONTROL - ID_FIRST_CONTROL + 1] = {};
    wxStaticText* labels[ID_LAST_CONTROL - ID_FIRST_CONTROL + 1] = {};
    wxStaticText* subsample_label = nullptr;
    wxHtmlHelpController* help_controller = nullptr;
};

// The one main window, null before start-up creates it and after it closes.
extern MyFrame* myframe;
// The help controller and whether the help book was found.
extern wxHtmlHelpController* help;
extern bool help_found;
