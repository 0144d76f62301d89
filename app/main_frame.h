// The main window: menus, the splitter with the canvas and the control pages, the
// status bar.
#pragma once

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/splitter.h>

class MyGLCanvas;

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
};

class MyFrame : public wxFrame {
public:
    MyFrame(const wxString& title, const wxPoint& pos, const wxSize& size);

    // Brings every control into line with the record.
    void reset_controls();
    // Status texts of field 1.
    void update_zoom_crop_status();
    void update_windowing_status();

    void OnClose(wxCommandEvent& event);  // "Close current file"

    // File commands (main_frame_files.cpp): dialogs only, the work is in io/ and
    // evaluation/.
    void OnOpen(wxCommandEvent& event);
    void OnOpenRef(wxCommandEvent& event);
    void OnSliderFrame(wxScrollEvent& event);
    void OnSaveDisplayImage(wxCommandEvent& event);
    void OnSaveProcessedImage(wxCommandEvent& event);
    void OnSaveImageSeq(wxCommandEvent& event);
    void OnProcessDicom(wxCommandEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    wxSplitterWindow* splitter = nullptr;
    MyGLCanvas* canvas = nullptr;
    wxNotebook* pages = nullptr;
};

// The one main window, null before start-up creates it and after it closes.
extern MyFrame* myframe;
