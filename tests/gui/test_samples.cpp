// The program on the bundled samples: started on the CT series, stepping through its
// frames, the display stage's threshold marks, and a dropped noisy image that finds its
// reference.
#include <wx/file.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/slider.h>
#include <wx/statusbr.h>

#include "gui_fixture.h"
#include "core/ui.h"

namespace {

const char* const ct_first = VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0001.dcm";

bool have_samples() { return wxFileName::FileExists(ct_first); }

}  // namespace

TEST(Samples, StartsOnTheCtSeriesAndStepsThroughItsFrames)
{
    if (!have_samples()) GTEST_SKIP() << "sample series not in this build";
    ASSERT_TRUE(start_program_shown({ct_first}));
    set_canvas_size(512, 512);
    ASSERT_NE(info.raw_image, nullptr);
    EXPECT_EQ(info.width, 256);
    EXPECT_EQ(info.frames, 12);
    EXPECT_EQ(myframe->GetTitle(), "Voxmira v2.62: 'ct_phantom_0001.dcm'");
    EXPECT_TRUE(myframe->control(ID_FRAME)->IsEnabled());
    EXPECT_EQ(myframe->slider(ID_FRAME)->GetMin(), info.first_frame);
    EXPECT_EQ(myframe->slider(ID_FRAME)->GetMax(), info.first_frame + 11);
    EXPECT_TRUE(myframe->GetMenuBar()->IsEnabled(ID_SAVE_SEQUENCE));
    EXPECT_TRUE(myframe->GetMenuBar()->IsEnabled(ID_PROCESS_DICOM));
    EXPECT_TRUE(myframe->control(ID_METAL_ALL)->IsEnabled());
    EXPECT_EQ(myframe->slider(ID_METAL_METAL)->GetMin(), info.data_min);

    int w, h;
    const std::vector<unsigned char> first = canvas_pixels(w, h, "canvas_ct_first");
    // Frame 6 holds metal inserts: a different picture with more white.
    slide(ID_FRAME, info.first_frame + 5);
    EXPECT_EQ(info.frame, info.first_frame + 5);
    const std::vector<unsigned char> sixth = canvas_pixels(w, h, "canvas_ct_sixth");
    EXPECT_FALSE(first == sixth);
    EXPECT_GT(GuiTest::count_colour(sixth, w, 0, 0, w, h, 255, 255, 255, 2),
              GuiTest::count_colour(first, w, 0, 0, w, h, 255, 255, 255, 2));

    // Metal preview: pixels at or above 900 HU turn magenta on the grey display (the marks
    // come with the full display stage, whose coordinate mapping marks its presence).
    slide(ID_METAL_METAL, 900);
    EXPECT_EQ(info.show_threshold, 1);
#if __has_include("display/coordinates.h")
    const std::vector<unsigned char> marked = canvas_pixels(w, h, "canvas_ct_metal_preview");
    EXPECT_GT(GuiTest::count_colour(marked, w, 0, 0, w, h, 255, 0, 255, 10), 20);
#endif
    slide(ID_METAL_METAL, 900, wxEVT_SCROLL_THUMBRELEASE);
    EXPECT_EQ(info.show_threshold, 0);
    const std::vector<unsigned char> unmarked = canvas_pixels(w, h);
    EXPECT_EQ(GuiTest::count_colour(unmarked, w, 0, 0, w, h - 40, 255, 0, 255, 10), 0);

    close_program();
}

TEST(Samples, DroppedNoisyImageOpensWithItsReference)
{
    const wxString noisy = VOXMIRA_SAMPLES "/camera_all_noise_016.png";
    if (!wxFileName::FileExists(noisy)) GTEST_SKIP() << "denoising sample not in this build";
    ASSERT_TRUE(start_program_shown({}));
    // The drop event as the toolkit delivers it to the canvas.
    // The event owns its array of names.
    wxString* files = new wxString[1]{noisy};
    wxDropFilesEvent drop(wxEVT_DROP_FILES, 1, files);
    drop.SetEventObject(myframe->canvas);
    myframe->canvas->GetEventHandler()->ProcessEvent(drop);
    EXPECT_NE(info.raw_image, nullptr);
    EXPECT_EQ(info.width, 512);
    EXPECT_EQ(info.open_filter, 6);
    EXPECT_EQ(myframe->GetTitle(),
              "Voxmira v2.62: 'camera_all_noise_016.png' with ref 'camera_all_ref_016.png'");
    EXPECT_NE(info.ref_image, nullptr);
    // Key N reports the comparison in status field 0.
    press_key('N');
    EXPECT_TRUE(myframe->GetStatusBar()->GetStatusText(0).StartsWith("PSNR(dB) "))
        << myframe->GetStatusBar()->GetStatusText(0);
    close_program();
}

// "Process DICOM/TIFF" from the menu while zoomed in: every frame is written, filtered over
// the whole image, not only over the part the window shows.
TEST(Samples, ProcessDicomWritesTheWholeFilteredSeries)
{
    if (!have_samples()) GTEST_SKIP() << "sample series not in this build";
    const wxString dir = wxFileName::CreateTempFileName("voxmira_dataset");
    wxRemoveFile(dir);
    ASSERT_TRUE(wxFileName::Mkdir(dir));
    auto bytes = [](const wxString& path) {
        wxFile f(path);
        std::vector<char> b(f.IsOpened() ? (size_t)f.Length() : 0);
        if (!b.empty()) f.Read(b.data(), b.size());
        return b;
    };
    for (int k = 1; k <= 12; k++) {
        const wxString name = wxString::Format("ct_phantom_%04i.dcm", k);
        ASSERT_TRUE(wxCopyFile(wxString(VOXMIRA_SAMPLES "/ct_phantom/") + name, dir + "/" + name));
    }
    const std::string first(wxString(dir + "/ct_phantom_0001.dcm").mb_str());
    ASSERT_TRUE(start_program_shown({first.c_str()}));
    set_canvas_size(512, 512);
    choose(ID_FILTER, 1);
    for (int i = 0; i < 16; i++) mouse(wxEVT_MOUSEWHEEL, 256, 256, false, false, 120);
    ASSERT_GT(info.zoom, 4.0) << "the view shows only the middle of the image";
    command(ID_PROCESS_DICOM);
    EXPECT_TRUE(myframe->GetStatusBar()->GetStatusText(2).StartsWith("Processed in "))
        << myframe->GetStatusBar()->GetStatusText(2);
    for (int k = 1; k <= 12; k++) {
        const wxString name = wxString::Format("ct_phantom_%04i", k);
        const std::vector<char> in = bytes(dir + "/" + name + ".dcm");
        const std::vector<char> out = bytes(dir + "/proc/" + name + "_proc.dcm");
        ASSERT_EQ(in.size(), out.size()) << name;
        // The first 16 rows lie outside the view: filtered all the same.
        const size_t pixels = in.size() - 256 * 256 * 2;
        int changed = 0;
        for (size_t i = pixels; i < pixels + 16 * 256 * 2; i++) changed += in[i] != out[i];
        EXPECT_GT(changed, 1000) << name;
    }
    close_program();
    wxFileName::Rmdir(dir, wxPATH_RMDIR_RECURSIVE);
}

// A micro-CT raw file from start-up: reconstructed, stepped to its last frame, shown as a
// sinogram, reconstructed again with Parallel-FDK and with "Reconstruct".
TEST(Samples, MicroCtRawFileInEveryModeFromTheWindow)
{
    const char* raw = VOXMIRA_FIXTURES "/rsq/phantom.rsq";
    ASSERT_TRUE(start_program_shown({raw}));
    set_canvas_size(512, 512);
    ASSERT_EQ(info.file_type, -7);
    EXPECT_EQ(info.width, 128);
    EXPECT_EQ(info.frames, 7);
    EXPECT_EQ(myframe->slider(ID_FRAME)->GetMax(), 7);
    int w, h;
    const std::vector<unsigned char> slice = canvas_pixels(w, h, "canvas_rsq_slice");
    EXPECT_GT(GuiTest::count_colour(slice, w, 0, 0, w, h, 255, 255, 255, 60), 100) << "a bright phantom";
    slide(ID_FRAME, 7);
    EXPECT_EQ(info.frame, 7);
    EXPECT_EQ(info.width, 128);
    choose(ID_XTREME_LOAD, 0);
    EXPECT_EQ(info.height, 83) << "the sinogram of the record";
    EXPECT_EQ(info.frame, 7);
    canvas_pixels(w, h, "canvas_rsq_sinogram");
    choose(ID_XTREME_LOAD, 3);
    EXPECT_EQ(info.width, 64);
    choose(ID_XTREME_RECON, 1);
    click(ID_RECON);
    EXPECT_EQ(info.width, 64);
    EXPECT_TRUE(ui_last_status(2).StartsWith("Recon in ")) << ui_last_status(2);
    EXPECT_TRUE(myframe->GetStatusBar()->GetStatusText(2).StartsWith("Recon in "))
        << myframe->GetStatusBar()->GetStatusText(2);
    close_program();
}
