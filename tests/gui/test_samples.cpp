// The program on the bundled samples: the CT series, the noisy picture, a micro-CT raw file.
#include <wx/filename.h>
#include <wx/slider.h>

#include <gtk/gtk.h>

#include "gui_fixture.h"

static const char* const noisy = VOXMIRA_SAMPLES "/camera_all_noise_016.png";

// The texts of the plain labels inside a control (a slider's value and end labels).
static void label_texts(GtkWidget* g, gpointer to)
{
    if (GTK_IS_LABEL(g))
        static_cast<std::vector<std::string>*>(to)->push_back(gtk_label_get_text(GTK_LABEL(g)));
    else if (GTK_IS_CONTAINER(g))
        gtk_container_forall(GTK_CONTAINER(g), label_texts, to);
}
static std::vector<std::string> label_texts(wxWindow* w)
{
    std::vector<std::string> out;
    label_texts(static_cast<GtkWidget*>(w->GetHandle()), &out);
    return out;
}

// Started on the series: its frames on the slider, frame 6 with its metal inserts, the metal
// preview's magenta marks while a slider is held (refused files: test_window.cpp).
TEST(Samples, CtSeriesStepsAndMarksMetal)
{
    ASSERT_TRUE(start_program_shown({VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0001.dcm"}));
    set_canvas_size(512, 512);
    EXPECT_EQ(std::make_pair(info.width, info.frames), std::make_pair(256, 12));
    EXPECT_EQ(myframe->GetTitle(), titled(": 'ct_phantom_0001.dcm'"));
    wxSlider* frame_slider = myframe->slider(ID_FRAME);
    EXPECT_EQ(frame_slider->GetMax(), info.first_frame + 11);
    const std::vector<std::string> ends = label_texts(frame_slider);
    EXPECT_NE(std::find(ends.begin(), ends.end(), "12"), ends.end()) << "the slider shows its ends";

    int w, h;
    const std::vector<unsigned char> first = canvas_pixels(w, h, "canvas_ct_first");
    slide(ID_FRAME, info.first_frame + 5);
    EXPECT_EQ(info.frame, info.first_frame + 5);
    const std::vector<unsigned char> sixth = canvas_pixels(w, h, "canvas_ct_sixth");
    EXPECT_GT(GuiTest::count_colour(sixth, w, 0, 0, w, h, 255, 255, 255, 2),
              GuiTest::count_colour(first, w, 0, 0, w, h, 255, 255, 255, 2));
    // Pixels at or above 900 HU turn magenta while the metal slider is held.
    slide(ID_METAL_METAL, 900);
    EXPECT_GT(GuiTest::count_colour(canvas_pixels(w, h, "canvas_ct_metal_preview"), w, 0, 0, w, h, 255, 0, 255, 10), 20);
    slide(ID_METAL_METAL, 900, wxEVT_SCROLL_THUMBRELEASE);
    EXPECT_EQ(GuiTest::count_colour(canvas_pixels(w, h), w, 0, 0, w, h - 40, 255, 0, 255, 10), 0);
    close_program();
}

// The noisy picture pairs with its reference at start-up, dropped on the canvas and through
// File > Open; it is one frame, shown alone on a disabled slider.
TEST(Samples, NoisyPictureFindsItsReferenceEveryWayIn)
{
    const wxString paired = titled(": 'camera_all_noise_016.png' with ref 'camera_all_ref_016.png'");
    ASSERT_TRUE(start_program_shown({noisy}));
    EXPECT_TRUE(myframe->GetTitle() == paired && info.ref_image) << "start-up";
    press_key('N');
    EXPECT_TRUE(status(0).StartsWith("PSNR(dB) ")) << status(0);
    ASSERT_EQ(std::make_pair(info.frames, info.first_frame), std::make_pair(1, 16)) << "the digits of the name";
    wxSlider* frame = myframe->slider(ID_FRAME);
    EXPECT_TRUE(!frame->IsEnabled() && frame->GetValue() == 16);
    for (const std::string& text : label_texts(frame)) EXPECT_TRUE(text.empty() || text == "16") << text;

    command(ID_CLOSE);
    wxDropFilesEvent drop(wxEVT_DROP_FILES, 1, new wxString[1]{noisy});  // it owns the names
    drop.SetEventObject(myframe->canvas);
    myframe->canvas->GetEventHandler()->ProcessEvent(drop);
    EXPECT_EQ(std::make_pair(info.width, info.open_filter), std::make_pair(512, 6));
    EXPECT_TRUE(myframe->GetTitle() == paired && info.ref_image) << "dropped";

    command(ID_CLOSE);
    ASSERT_TRUE(myframe->open_file(noisy, 0));
    EXPECT_TRUE(myframe->GetTitle() == paired && info.ref_image) << "File > Open";
    close_program();
}

// "Process DICOM/TIFF" from the menu while zoomed in: every frame is written, filtered over
// the whole image, not only over the part the window shows.
TEST(Samples, ProcessDicomWritesTheWholeFilteredSeries)
{
    const std::string dir = temp_folder("voxmira_dataset");
    for (int k = 1; k <= 12; k++) {
        const wxString name = wxString::Format("ct_phantom_%04i.dcm", k);
        ASSERT_TRUE(wxCopyFile(wxString(VOXMIRA_SAMPLES "/ct_phantom/") + name, dir + "/" + name));
    }
    ASSERT_TRUE(start_program_shown({dir + "/ct_phantom_0001.dcm"}));
    set_canvas_size(512, 512);
    choose(ID_FILTER, 1);
    for (int i = 0; i < 16; i++) mouse(wxEVT_MOUSEWHEEL, 256, 256, false, false, 120);
    ASSERT_GT(info.zoom, 4.0) << "the view shows only the middle of the image";
    command(ID_PROCESS_DICOM);
    EXPECT_TRUE(status(2).StartsWith("Processed in ")) << status(2);
    for (int k = 1; k <= 12; k++) {
        const wxString name = wxString::Format("ct_phantom_%04i", k);
        const std::vector<char> in = file_bytes(dir + "/" + name + ".dcm");
        const std::vector<char> out = file_bytes(dir + "/proc/" + name + "_proc.dcm");
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
    ASSERT_TRUE(start_program_shown({VOXMIRA_FIXTURES "/rsq/phantom.rsq"}));
    set_canvas_size(512, 512);
    ASSERT_EQ(info.file_type, -7);
    EXPECT_EQ(std::make_tuple(info.width, info.frames, myframe->slider(ID_FRAME)->GetMax()), std::make_tuple(128, 7, 7));
    int w, h;
    const std::vector<unsigned char> slice = canvas_pixels(w, h, "canvas_rsq_slice");
    EXPECT_GT(GuiTest::count_colour(slice, w, 0, 0, w, h, 255, 255, 255, 60), 100) << "a bright phantom";
    slide(ID_FRAME, 7);
    EXPECT_EQ(std::make_pair(info.frame, info.width), std::make_pair(7, 128));
    choose(ID_XTREME_LOAD, 0);
    EXPECT_EQ(std::make_pair(info.height, info.frame), std::make_pair(83, 7)) << "the sinogram of the record";
    choose(ID_XTREME_LOAD, 3);
    EXPECT_EQ(info.width, 64);
    choose(ID_XTREME_RECON, 1);
    click(ID_RECON);
    EXPECT_EQ(info.width, 64);
    EXPECT_TRUE(status(2).StartsWith("Recon in ")) << status(2);
    close_program();
}
