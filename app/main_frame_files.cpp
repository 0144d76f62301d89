// The File menu's open, reference, save and data-set commands and the frame slider. Each
// handler shows its dialog and hands the choice to the core (io/open_data_set,
// evaluation/reference, io/save_image, io/save_sequence), which the batch tool shares.
#include <algorithm>
#include <wx/choicdlg.h>
#include <wx/slider.h>
#include <wx/config.h>
#include <wx/filedlg.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>

#include "app/main_frame.h"
#include "commands/pipeline.h"
#include "core/record.h"
#include "core/ui.h"
#include "app/gl_canvas.h"
#include "evaluation/reference.h"
#include "commands/open_data_set.h"
#include "io/save_image.h"
#include "commands/save_sequence.h"

static const char* const open_wildcard =
    "Image file|*.png;*.jpg;*.jpeg;*.tiff;*.tif;*.bmp;*.pnm;*.ppm|Dicom file|*.dcm;*.acr;|"
    "Sonix|*.b8;*.b32;*.rf;*.pw;*.col;*.el;*.elo|Mindways QCT|*.qct;*.QCT|"
    "Lunar DFE|*.dfe;*.dff|Xtreme Raw|*.rsq;*.isq|All files|*.*";

void MyFrame::OnOpen(wxCommandEvent&)
{
    wxString path;
    int filter = 0;
    {
        // The dialog starts in the open data set's folder, with its loader's filter.
        const wxString folder = info.raw_image ? wxFileName(info.file_name).GetPath() : wxString();
        wxFileDialog dialog(this, "Open image or sequence", folder, "", open_wildcard,
                            wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_CHANGE_DIR);
        dialog.SetFilterIndex(filter_for_open_data());
        if (dialog.ShowModal() != wxID_OK) return;
        path = dialog.GetPath();
        filter = dialog.GetFilterIndex();
    }
    open_file(path, filter);
}

bool MyFrame::open_file(const wxString& path, int filter)
{
    // A refused file (its loader has said why) leaves the window as it was.
    if (!open_data_set(path, filter)) return false;
    remember_file(path);
    // reset_controls sets the level slider to 1 .. level_slider_maximum() and the frame
    // slider to the new frame range.
    reset_controls();
    canvas->Refresh(false);
    return true;
}

void MyFrame::remember_file(const wxString& path)
{
    if (!recent || path.empty()) return;
    recent_placeholder(false);
    recent->AddFileToHistory(wxFileName(path).GetAbsolutePath());
    recent->Save(*wxConfig::Get());
    wxConfig::Get()->Flush();
}

void MyFrame::OnOpenRecent(wxCommandEvent& event)
{
    const size_t k = (size_t)(event.GetId() - wxID_FILE1);
    if (!recent || k >= recent->GetCount()) return;
    const wxString path = recent->GetHistoryFile(k);
    // Every loader is tried, as for a dropped file: the entry does not record which one.
    open_dropped_file(path);
}

void MyFrame::OnOpenRef(wxCommandEvent&)
{
    wxFileDialog dialog(this, "Open reference image", "", "",
                        "Image file|*.png;*.jpg;*.jpeg;*.tiff;*.tif;*.bmp;*.pnm;*.ppm",
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) return;
    open_reference(dialog.GetPath());
}

void MyFrame::show_frame(int n)
{
    if (!info.raw_image || info.frames < 2) return;
    n = std::clamp(n, info.first_frame, info.first_frame + info.frames - 1);
    slider(ID_FRAME)->SetValue(n);
    if (!change_frame(n)) return;
    // The metal sliders follow the new frame's range.
    reset_controls();
    canvas->Refresh(false);
    canvas->Update();
}

void MyFrame::OnSliderFrame(wxScrollEvent& event) { show_frame(event.GetPosition()); }

static bool choose_save_path(wxWindow* parent, const wxString& message, wxString& path, int& index)
{
    wxFileDialog dialog(parent, message, "", "", save_wildcard,
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT | wxFD_CHANGE_DIR);
    if (dialog.ShowModal() != wxID_OK) return false;
    path = dialog.GetPath();
    const wxString typed = path;
    index = export_choice(path, dialog.GetFilterIndex());
    // The dialog asked about the name as typed; a name it did not see is asked about here.
    if (path != typed && wxFileName::FileExists(path) &&
        wxMessageBox(wxString::Format("%s already exists.\nDo you want to replace it?", path), message,
                     wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, parent) != wxYES)
        return false;
    return true;
}

void MyFrame::OnSaveDisplayImage(wxCommandEvent&)
{
    wxString path;
    int index;
    if (!choose_save_path(this, "Save image as displayed", path, index)) return;
    if (save_display_image(path, index))
        SetStatusText(wxString::Format("Saved %s %s", display_export_kind(index), wxFileName(path).GetFullName()), 0);
}

void MyFrame::OnSaveProcessedImage(wxCommandEvent&)
{
    wxString path;
    int index;
    if (!choose_save_path(this, "Save filtered original image", path, index)) return;
    // The file gets the whole image filtered, not only the part in view.
    if (info.filter != FILTER_NONE) process_whole_image();
    if (save_processed_image(path, index))
        SetStatusText(wxString::Format("Saved %s %s", processed_export_kind(index), wxFileName(path).GetFullName()), 0);
}

void MyFrame::OnSaveImageSeq(wxCommandEvent&)
{
    const wxString choices[2] = {sequence_choice_text(0), sequence_choice_text(1)};
    wxSingleChoiceDialog ask(this, "What data do you want in the image files?", "Save entire sequence",
                             2, choices);
    ask.SetSelection(0);
    if (ask.ShowModal() != wxID_OK) return;
    const int choice = ask.GetSelection();
    wxString path;
    int index;
    if (!choose_save_path(this, "Save entire sequence", path, index)) return;
    bool complete = false;
    const int written = save_sequence(path, index, choice, [this] {
        reset_controls();
        canvas->Refresh(false);
        canvas->Update();
        ui_yield();
    }, &complete);
    // Say how many files were written and into which folder, as the single saves say what
    // they wrote ("Saved 12 files in seq/").
    if (written > 0)
        SetStatusText(wxString::Format("Saved %i file%s in %s/%s", written, written == 1 ? "" : "s",
                                       wxFileName(path).GetDirs().empty() ? wxString() : wxFileName(path).GetDirs().Last(),
                                       complete ? "" : " (stopped)"),
                      0);
    else
        SetStatusText("No files saved", 0);
}

void MyFrame::OnProcessDicom(wxCommandEvent&)
{
    process_data_set([this] {
        reset_controls();
        canvas->Refresh(false);
        canvas->Update();
    });
}
