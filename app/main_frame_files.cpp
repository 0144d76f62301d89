// Placeholder for the File menu's open and save commands and the frame slider; the full
// versions arrive with image files, reference comparison and saving.
#include <wx/log.h>
#include <wx/slider.h>

#include "app/main_frame.h"
#include "app/record.h"
#include "display/gl_canvas.h"
#include "io/loader_chain.h"
#include "processing/pipeline.h"

void MyFrame::OnOpen(wxCommandEvent&) { wxLogMessage("Open is not available yet."); }
void MyFrame::OnOpenRef(wxCommandEvent&) { wxLogMessage("Open reference is not available yet."); }
void MyFrame::OnSaveDisplayImage(wxCommandEvent&) { wxLogMessage("Saving is not available yet."); }
void MyFrame::OnSaveProcessedImage(wxCommandEvent&) { wxLogMessage("Saving is not available yet."); }
void MyFrame::OnSaveImageSeq(wxCommandEvent&) { wxLogMessage("Saving is not available yet."); }
void MyFrame::OnProcessDicom(wxCommandEvent&) { wxLogMessage("Data set output is not available yet."); }

void MyFrame::OnSliderFrame(wxScrollEvent& event)
{
    const int n = event.GetPosition();
    if (n == info.frame) return;
    reload_frame(n);
    sample_image();
    process_image();
    canvas->Refresh(false);
    canvas->Update();
}
