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

namespace {

bool have_xdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

bool xdo(const std::string& args)
{
    return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0;
}

std::string canvas_at(int x, int y)
{
    const wxPoint p = myframe->canvas->GetScreenPosition();
    return std::to_string(p.x + x) + " " + std::to_string(p.y + y);
}

}  // namespace

// Real keys through the X server: over the canvas the arrow, Page, Home and End keys step the
// frames and never reach a slider; Alt-F opens the reference dialog, not the File menu.
TEST(WindowKeys, FrameKeysStayWithTheCanvasAndAltFOpensTheReferenceDialog)
{
    if (!have_xdotool()) GTEST_SKIP() << "xdotool not installed";
    if (!wxFileName::FileExists(ct_first)) GTEST_SKIP() << "sample series not in this build";
    ASSERT_TRUE(start_program({ct_first}));
    ASSERT_TRUE(pump_until([] { return myframe && myframe->IsShownOnScreen(); }));
    set_canvas_size(512, 512);
    pump_for(0.2);
    const int first = info.first_frame;
    const int threshold = myframe->slider(ID_THRESHOLD)->GetValue();
    ASSERT_TRUE(xdo("mousemove --sync " + canvas_at(256, 256) + " click 3"));
    ASSERT_TRUE(pump_until([] { return myframe->canvas->HasFocus(); }, 2.0));
    const struct {
        const char* keys;
        int frame;
    } steps[] = {{"Right", first + 1}, {"Next", first + 2}, {"Left", first + 1},
                 {"End", first + 11},  {"Prior", first + 10}, {"Home", first},
                 {"Down Down Up Right", first + 1}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.keys);
        ASSERT_TRUE(xdo(std::string("key --delay 60 ") + s.keys));
        EXPECT_TRUE(pump_until([&] { return info.frame == s.frame; }, 3.0)) << info.frame;
        pump_for(0.1);
        EXPECT_EQ(myframe->slider(ID_FRAME)->GetValue(), s.frame);
        EXPECT_TRUE(myframe->canvas->HasFocus());
    }
    EXPECT_EQ(myframe->slider(ID_THRESHOLD)->GetValue(), threshold) << "no slider moved";

    // Alt-F with an ordinary image open: the reference dialog, closed again from outside.
    command(ID_CLOSE);
    ASSERT_TRUE(myframe->open_file(noisy, 0));
    ASSERT_TRUE(myframe->GetMenuBar()->IsEnabled(ID_OPEN_REF));
    const std::string seen = std::string(wxFileName::CreateTempFileName("voxmira_altf").mb_str());
    std::remove(seen.c_str());
    ASSERT_EQ(std::system(("(sleep 1.5; xdotool search --onlyvisible --name 'Open reference image' > '" +
                           seen + "'; xdotool key Escape) >/dev/null 2>&1 &").c_str()), 0);
    ASSERT_TRUE(xdo("mousemove --sync " + canvas_at(100, 100) + " click 3 key alt+f"));
    pump_until([&] { return wxFileName::GetSize(seen) != wxInvalidSize; }, 6.0);
    pump_for(0.5);
    EXPECT_GT(wxFileName::GetSize(seen).GetValue(), 0u) << "the Open reference dialog appeared";
    std::remove(seen.c_str());
    myframe->Close(true);
    pump_until([] { return myframe == nullptr && wxTopLevelWindows.IsEmpty(); });
}
