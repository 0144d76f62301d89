// The window as a user meets it: a refused file leaves everything as it was, every way in
// pairs a noisy picture with its reference, zoom commands leave the frame alone, keys over
// the canvas go to the canvas, one frame shows as one frame, and the control pane keeps
// every control and tab reachable at small sizes.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/scrolwin.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>

#include "app/main_app.h"
#include "gui_fixture.h"

using Window = GuiTest;

namespace {

const char* const ct_first = VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0001.dcm";
const char* const noisy = VOXMIRA_SAMPLES "/camera_all_noise_016.png";

std::string status(int field) { return myframe->GetStatusBar()->GetStatusText(field).ToStdString(); }

// A DICOM file cut short inside its pixel data, in a folder of its own.
std::string truncated_dicom()
{
    const wxString dir = wxFileName::CreateTempFileName("voxmira_refused");
    wxRemoveFile(dir);
    wxFileName::Mkdir(dir);
    std::ifstream in(VOXMIRA_FIXTURES "/dicom/ct_s16.dcm", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string path = std::string(dir.mb_str()) + "/cut.dcm";
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size() - 700);
    return path;
}

}  // namespace

TEST(WindowFiles, ARefusedFileLeavesTheOpenDataSetAsItWas)
{
    if (!wxFileName::FileExists(ct_first)) GTEST_SKIP() << "sample series not in this build";
    ASSERT_TRUE(start_program({ct_first}));
    ASSERT_TRUE(pump_until([] { return myframe && myframe->IsShownOnScreen(); }));
    set_canvas_size(512, 512);
    slide(ID_FRAME, info.first_frame + 3);
    const wxString title = myframe->GetTitle();
    const std::string zoom_text = status(1);
    const int frame = info.frame, frames = info.frames, width = info.width;
    const std::vector<int> samples(info.raw_image, info.raw_image + (size_t)info.width * info.height);
    int w, h;
    const std::vector<unsigned char> before = canvas_pixels(w, h);

    const std::string cut = truncated_dicom();
    {
        wxLogNull quiet;  // the loader's warning
        for (int filter : {1, 6}) EXPECT_FALSE(myframe->open_file(cut, filter));
        EXPECT_FALSE(myframe->open_dropped_file(cut));
    }
    EXPECT_EQ(myframe->GetTitle(), title);
    EXPECT_EQ(status(1), zoom_text);
    EXPECT_EQ(info.frame, frame);
    EXPECT_EQ(info.frames, frames);
    EXPECT_EQ(info.width, width);
    ASSERT_NE(info.raw_image, nullptr);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), info.raw_image));
    EXPECT_TRUE(myframe->control(ID_FRAME)->IsEnabled());
    EXPECT_TRUE(myframe->control(ID_FILTER)->IsEnabled());
    EXPECT_EQ(canvas_pixels(w, h), before) << "the canvas shows the same frame";
    // The series still steps: its frames are the old data set's.
    slide(ID_FRAME, info.first_frame + 5);
    EXPECT_EQ(info.frame, info.first_frame + 5);
    wxFileName::Rmdir(wxFileName(cut).GetPath(), wxPATH_RMDIR_RECURSIVE);
    myframe->Close(true);
    pump_until([] { return myframe == nullptr && wxTopLevelWindows.IsEmpty(); });
}

TEST(WindowFiles, EveryWayInPairsTheNoisyPictureWithItsReference)
{
    if (!wxFileName::FileExists(noisy)) GTEST_SKIP() << "denoising sample not in this build";
    const std::string paired = "Voxmira v2.62: 'camera_all_noise_016.png' with ref 'camera_all_ref_016.png'";
    ASSERT_TRUE(start_program({noisy}));
    ASSERT_TRUE(pump_until([] { return myframe && myframe->IsShownOnScreen(); }));
    EXPECT_EQ(myframe->GetTitle(), paired) << "start-up";
    EXPECT_NE(info.ref_image, nullptr);
    press_key('N');
    EXPECT_TRUE(wxString(status(0)).StartsWith("PSNR(dB) ")) << status(0);
    command(ID_CLOSE);
    ASSERT_TRUE(myframe->open_file(noisy, 0));
    EXPECT_EQ(myframe->GetTitle(), paired) << "File > Open";
    EXPECT_NE(info.ref_image, nullptr);
    myframe->Close(true);
    pump_until([] { return myframe == nullptr && wxTopLevelWindows.IsEmpty(); });
}
