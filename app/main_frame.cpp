#include "app/main_frame.h"

#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/statusbr.h>

#include "app/main_app.h"
#include "app/record.h"
#include "app/startup.h"
#include "display/display_image.h"
#include "display/gl_canvas.h"

const int ctrl_width = 220;
MyFrame* myframe = nullptr;

MyFrame::MyFrame(const wxString& title, const wxPoint& pos, const wxSize& size)
    : wxFrame(nullptr, wxID_ANY, title, pos, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE | wxCLIP_CHILDREN)
{
    wxMenu* file_menu = new wxMenu;
    file_menu->Append(ID_CLOSE, "&Close\tAlt-C", "Close current file");
    file_menu->AppendSeparator();
    file_menu->Append(ID_EXIT, "E&xit\tAlt-X", "Exit Voxmira");
    wxMenuBar* bar = new wxMenuBar;
    bar->Append(file_menu, "&File");
    SetMenuBar(bar);

    CreateStatusBar(3);

    splitter = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                    wxSP_3D | wxSP_LIVE_UPDATE);
    canvas = new MyGLCanvas(splitter);
    pages = new wxNotebook(splitter, wxID_ANY);
    splitter->SetSashGravity(1.0);
    splitter->SplitVertically(canvas, pages, -ctrl_width);

    // The client area asks for the image size plus the control pane, but never more than
    // the screen offers.
    SetClientSize(size);
    const wxRect screen = wxGetClientDisplayRect();
    const wxSize full = GetSize();
    if (full.x > screen.width || full.y > screen.height) {
        SetSize(std::min(full.x, screen.width), std::min(full.y, screen.height));
        Move(screen.GetTopLeft());
    } else if (pos != wxDefaultPosition) {
        Move(pos);
    }
    splitter->SetSashPosition(std::max(GetClientSize().x - ctrl_width - 70, 100));

    Bind(wxEVT_MENU, &MyFrame::OnClose, this, ID_CLOSE);
    Bind(wxEVT_MENU, &MyFrame::OnExit, this, ID_EXIT);
    Bind(wxEVT_CLOSE_WINDOW, &MyFrame::OnCloseWindow, this);
}

void MyFrame::reset_controls() {}

void MyFrame::update_zoom_crop_status()
{
    SetStatusText(wxString::Format("Zoom: %.3g", info.zoom), 1);
}

void MyFrame::update_windowing_status()
{
    SetStatusText(wxString::Format("Window: %i / %i", info.window_centre, info.window_range), 1);
}

void MyFrame::OnClose(wxCommandEvent&)
{
    reset_info();
    allocate_display_and_fit();
    create_display_image();
    reset_controls();
    canvas->Refresh(false);
}

void MyFrame::OnExit(wxCommandEvent&) { Close(false); }

void MyFrame::OnCloseWindow(wxCloseEvent&)
{
    wxTheApp->Unbind(wxEVT_IDLE, &MyApp::OnIdle, &wxGetApp());
    release_array(info.histogram);
    if (myframe == this) myframe = nullptr;
    Destroy();
}
