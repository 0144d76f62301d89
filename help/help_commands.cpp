// The Help menu: help book, online pages, update check and the About box.
#include <algorithm>

#include <wx/aboutdlg.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/html/helpctrl.h>
#include <wx/html/helpfrm.h>
#include <wx/html/htmlwin.h>
#include <wx/icon.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include "app/main_frame.h"
#include "app/version.h"
#include "help/update_check.h"

#include "app/voxmira_icon.xpm"

void MyFrame::OnHelp(wxCommandEvent&)
{
    if (help_found && help) {
        // A new help frame opens large enough for the book's pages and pictures: the
        // toolkit's default of 700 x 480 is cramped. A frame already open keeps its size.
        const bool opened = help->GetFrame() != nullptr;
        help->Display("Voxmira.html");
        wxFrame* frame = help->GetFrame();
        if (!opened && frame) {
            const wxRect screen = wxDisplay(this).GetClientArea();
            const wxSize want(std::min(1100, screen.width * 9 / 10), std::min(800, screen.height * 9 / 10));
            const wxSize now = frame->GetSize();
            if (now.x < want.x || now.y < want.y) {
                frame->SetSize(std::max(now.x, want.x), std::max(now.y, want.y));
                frame->CentreOnScreen();
            }
        }
    } else
        SetStatusText("Could not load Voxmira_help.zip, help system inactive", 0);
}

void MyFrame::OnOnline(wxCommandEvent&)
{
    wxLaunchDefaultBrowser(voxmira_web_page, 0);
}

void MyFrame::OnAbout(wxCommandEvent&)
{
    wxAboutDialogInfo about;
    about.SetName("Voxmira");
    about.SetVersion(VOXMIRA_VERSION, wxString(VOXMIRA_VERSION) + " Rev: " + VOXMIRA_RELEASE);
    about.SetDescription(
        "Voxmira views and processes medical and scientific images: DICOM series, image files "
        "and sequences, ultrasound, QCT, DXA and micro-CT data, with edge-preserving denoising "
        "filters, CT reconstruction and metal artefact reduction.\n\n"
        "Written by the Voxmira developers. Questions, bug reports and suggestions are welcome "
        "through the project's web pages.");
    about.SetCopyright(
        "(C) The Voxmira developers. Voxmira is provided as is, without warranty of any kind; "
        "it is not a medical device and must not be used for diagnosis.");
    about.SetWebSite(voxmira_web_page);
    about.SetIcon(wxIcon(voxmira_xpm));
    wxAboutBox(about, this);
}

void MyFrame::OnUpdate(wxCommandEvent&)
{
    update_check_dialog(this);
}
