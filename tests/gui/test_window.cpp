// The window as a user meets it: layout, real keys and drags, file dialogs, Open Recent.
#include <cstring>
#include <fstream>
#include <wx/dialog.h>
#include <wx/fileconf.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/scrolwin.h>
#include <wx/slider.h>
#include <wx/srchctrl.h>

#include <gtk/gtk.h>

#include "app/deferred_input.h"
#include "app/dicom_info_dialog.h"
#include "commands/pipeline.h"
#include "gui_fixture.h"

static const char* const ct_first = VOXMIRA_SAMPLES "/ct_phantom/ct_phantom_0001.dcm";
static const char* const noisy = VOXMIRA_SAMPLES "/camera_all_noise_016.png";

// A picture narrower than the control pane: the canvas, not the control pane, takes the
// width the frame gains.
TEST(WindowFiles, CanvasTakesTheExtraWidthOfANarrowPicture)
{
    ASSERT_TRUE(start_program_shown({VOXMIRA_FIXTURES "/images/ssim_clean.png"}));
    ASSERT_EQ(info.width, 48);
    const int canvas_before = myframe->canvas->GetSize().x, pane_before = myframe->control_pane->GetSize().x;
    myframe->SetSize(myframe->GetSize().x + 300, myframe->GetSize().y);
    pump_until([&] { return myframe->canvas->GetSize().x >= canvas_before + 300; }, 2);
    EXPECT_EQ(std::make_pair(myframe->canvas->GetSize().x, myframe->control_pane->GetSize().x),
              std::make_pair(canvas_before + 300, pane_before));
    close_program();
}

// Real input through the X server: a click zooms out and gives the canvas the focus; over
// the canvas the arrow, Page, Home and End keys step the frames and never reach a slider,
// H toggles the histogram, a right-button drag windows; Alt-F opens the reference dialog,
// not the File menu.
TEST(WindowKeys, RealInputReachesTheCanvasAndAltFOpensTheReferenceDialog)
{
    ASSERT_TRUE(have_xdotool()) << "xdotool is installed by scripts/install-deps.sh";
    ASSERT_TRUE(start_program_shown({ct_first}));
    set_canvas_size(512, 512);
    pump_for(0.2);
    const int first = info.first_frame, threshold = myframe->slider(ID_THRESHOLD)->GetValue();
    const double zoom = info.zoom;
    ASSERT_TRUE(xdo("mousemove --sync " + canvas_at(256, 256) + " click 1"));
    EXPECT_TRUE(pump_until([&] { return info.zoom == zoom / 2; }, 3.0)) << "a click halves the zoom";
    ASSERT_TRUE(pump_until([] { return myframe->canvas->HasFocus(); }, 2.0));
    const std::pair<const char*, int> steps[] = {{"Right", first + 1}, {"Next", first + 2},  {"Left", first + 1},
                                                 {"End", first + 11},  {"Prior", first + 10}, {"Home", first},
                                                 {"Down Down Up Right", first + 1}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.first);
        ASSERT_TRUE(xdo(std::string("key --delay 60 ") + s.first));
        EXPECT_TRUE(pump_until([&] { return info.frame == s.second; }, 3.0)) << info.frame;
        pump_for(0.1);
        EXPECT_EQ(myframe->slider(ID_FRAME)->GetValue(), s.second);
        EXPECT_TRUE(myframe->canvas->HasFocus());
    }
    EXPECT_EQ(myframe->slider(ID_THRESHOLD)->GetValue(), threshold) << "no slider moved";
    ASSERT_TRUE(xdo("key h"));
    EXPECT_TRUE(pump_until([] { return info.show_histogram == 1; }, 3.0));
    const int centre = info.window_centre;
    ASSERT_TRUE(xdo("mousemove --sync " + canvas_at(200, 200) + " mousedown 3 mousemove --sync " +
                    canvas_at(300, 200) + " mouseup 3"));
    EXPECT_TRUE(pump_until([&] { return info.window_centre > centre && !info.windowing; }, 3.0));

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
    close_program();
}

// Save processed through the real dialog, its type left at "PNG file": a typed ".tif" is a
// TIFF (16 bits for CT data) and the status bar says so; a name without an extension gets
// the chosen type's.
TEST(WindowFiles, SavedFileIsOfTheTypeItsTypedNameSays)
{
    ASSERT_TRUE(have_xdotool()) << "xdotool is installed by scripts/install-deps.sh";
    ASSERT_TRUE(start_program_shown({ct_first}));
    const std::string folder = temp_folder("voxmira_save");
    const wxString cwd = wxGetCwd();  // the dialog moves into the folder it saved in
    const struct { const char *typed, *written, *magic, *status; } cases[] = {
        {"ctproc.tif", "ctproc.tif", "II*", "Saved 16-bit TIFF ctproc.tif"},
        {"ctplain", "ctplain.png", "\x89PNG", "Saved 8-bit PNG ctplain.png"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ASSERT_TRUE(answer_file_dialog("Save filtered original image", folder + "/" + c.typed));
        command(ID_SAVE_PROCESSED);
        pump_for(0.2);
        const std::vector<char> head = file_bytes(folder + "/" + c.written);
        EXPECT_EQ(std::string(head.data(), std::min(head.size(), std::strlen(c.magic))), c.magic);
        EXPECT_EQ(status(0), c.status);
    }
    wxSetWorkingDirectory(cwd);
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    close_program();
}

// At the smallest size the window allows and at the start-up size of a 256 x 256 series:
// all four page tabs show side by side, a page too long for the pane scrolls, and Unity
// zoom changes the zoom only.
TEST(WindowLayout, SmallWindowsKeepEveryTabAndScrollThePages)
{
    ASSERT_TRUE(start_program_shown({ct_first}));
    pump_for(0.3);
    for (bool minimum : {false, true}) {
        SCOPED_TRACE(minimum ? "minimum" : "start-up");
        if (minimum) {
            myframe->SetSize(100, 100);
            pump_until([] { return myframe->GetSize() == myframe->GetMinSize(); }, 3.0);
            pump_for(0.5);
        }
        GtkWidget* book = static_cast<GtkWidget*>(myframe->pages->GetHandle());
        GtkAllocation whole;
        gtk_widget_get_allocation(book, &whole);
        for (int k = 0; k < 4; k++) {
            GtkWidget* tab = gtk_notebook_get_tab_label(
                GTK_NOTEBOOK(book), static_cast<GtkWidget*>(myframe->page[k]->GetHandle()));
            ASSERT_NE(tab, nullptr);
            GtkAllocation a;
            gtk_widget_get_allocation(tab, &a);
            EXPECT_TRUE(gtk_widget_get_child_visible(gtk_widget_get_parent(tab)) && gtk_widget_get_mapped(tab))
                << "tab " << k << " is scrolled away";
            EXPECT_LE(a.x + a.width, whole.x + whole.width) << "tab " << k;
        }
        // The Process page with the bitonic filter holds more rows than the pane.
        myframe->pages->SetSelection(1);
        choose(ID_FILTER, 12);
        pump_for(0.3);
        wxScrolledWindow* page = myframe->page[1];
        const bool taller = page->GetVirtualSize().y > page->GetClientSize().y;
        EXPECT_TRUE((taller || !minimum) && (page->HasScrollbar(wxVERTICAL) || !taller)) << "the page scrolls";
        choose(ID_FILTER, 0);
        myframe->pages->SetSelection(0);
    }

    const wxSize frame_size = myframe->GetSize(), canvas_size = myframe->canvas->GetClientSize();
    command(ID_ZOOM_UNITY);
    pump_for(0.3);
    EXPECT_EQ(info.zoom, 1.0);
    EXPECT_EQ(std::make_pair(myframe->GetSize(), myframe->canvas->GetClientSize()), std::make_pair(frame_size, canvas_size));
    close_program();
}

// File > Open Recent holds a disabled "(none)" while empty, lists the data sets that opened,
// newest first, reopens one, and keeps the list for the next run.
TEST(WindowFiles, OpenRecentKeepsTheLastDataSetsAcrossRuns)
{
    const wxString stored = wxFileName::CreateTempFileName("voxmira_config");
    wxConfigBase* previous =
        wxConfigBase::Set(new wxFileConfig("voxmira-test", "", stored, "", wxCONFIG_USE_LOCAL_FILE));
    ASSERT_TRUE(start_program_shown({}));
    const wxMenu* menu = (wxMenu*)myframe->recent->GetMenus().GetFirst()->GetData();
    ASSERT_EQ(menu->GetMenuItemCount(), 1u);
    EXPECT_TRUE(menu->FindItemByPosition(0)->GetItemLabelText() == "(none)" && !menu->FindItemByPosition(0)->IsEnabled());
    ASSERT_TRUE(myframe->open_dropped_file(ct_first));
    ASSERT_TRUE(myframe->open_file(noisy, 0));
    ASSERT_EQ(myframe->recent->GetCount(), 2u);
    EXPECT_EQ(menu->GetMenuItemCount(), 2u);  // the two files, nothing else
    EXPECT_TRUE(myframe->recent->GetHistoryFile(0).EndsWith("camera_all_noise_016.png") &&
                myframe->recent->GetHistoryFile(1).EndsWith("ct_phantom_0001.dcm"));
    command(wxID_FILE2);
    EXPECT_TRUE(myframe->GetTitle() == titled(": 'ct_phantom_0001.dcm'") && info.frames == 12);
    close_program();

    ASSERT_TRUE(start_program_shown({}));
    ASSERT_EQ(myframe->recent->GetCount(), 2u);
    EXPECT_TRUE(myframe->recent->GetHistoryFile(0).EndsWith("ct_phantom_0001.dcm"));
    close_program();
    delete wxConfigBase::Set(previous);
    wxRemoveFile(stored);
}

// File > DICOM information: offered for DICOM data only, it lists the current frame's file,
// and the search box narrows the list.
TEST(WindowFiles, DicomInformationListsTheCurrentFramesElements)
{
    ASSERT_TRUE(start_program_shown({noisy}));
    EXPECT_TRUE(!myframe->GetMenuBar()->FindItem(ID_DICOM_INFO) && !make_dicom_information(myframe)) << "not DICOM";
    ASSERT_TRUE(myframe->open_file(ct_first, 1));
    ASSERT_NE(myframe->GetMenuBar()->FindItem(ID_DICOM_INFO), nullptr);
    EXPECT_EQ(myframe->file_menu->FindItemByPosition(4)->GetId(), ID_DICOM_INFO) << "after Close";
    slide(ID_FRAME, info.first_frame + 6);
    wxDialog* dialog = make_dicom_information(myframe);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetTitle(), "DICOM information: ct_phantom_0007.dcm");
    wxListCtrl* list = dicom_information_list(dialog);
    EXPECT_GT(list->GetItemCount(), 20);
    dicom_information_search(dialog)->SetValue("rescale intercept");
    ASSERT_EQ(list->GetItemCount(), 1);
    EXPECT_EQ(list->GetItemText(0, 0) + " " + list->GetItemText(0, 3), "(0028,1052) -1024.0");
    dialog->Destroy();
    close_program();
}

// A file its loader refuses always gets a word, and the open series stays exactly as it was:
// typed into the real Open dialog while its type is still "Dicom file", chosen with a type,
// or dropped; among them a DICOM file cut short inside its pixel data.
TEST(WindowFiles, ARefusedFileSaysWhyAndLeavesTheSeries)
{
    ASSERT_TRUE(have_xdotool()) << "xdotool is installed by scripts/install-deps.sh";
    ASSERT_TRUE(start_program_shown({ct_first}));
    set_canvas_size(512, 512);
    slide(ID_FRAME, info.first_frame + 5);
    pump_until([] { return !myframe->canvas->status_pending; });
    const std::string folder = temp_folder("voxmira_refused"), cut = folder + "/cut.dcm";
    wxSetWorkingDirectory(folder);  // the chooser cannot start in a folder since removed
    std::ofstream(folder + "/text.dcm") << "Not an image, only words.\n";
    wxCopyFile(VOXMIRA_FIXTURES "/images/colour.png", folder + "/picture.png");
    const std::vector<char> whole = file_bytes(VOXMIRA_FIXTURES "/dicom/ct_s16.dcm");
    std::ofstream(cut, std::ios::binary).write(whole.data(), (std::streamsize)whole.size() - 700);
    const wxString title = myframe->GetTitle(), zoom_text = status(1);
    const int frame = info.frame;
    const int* const kept = info.raw_image;
    const std::vector<int> samples(kept, kept + (size_t)info.width * info.height);
    int w, h;
    const std::vector<unsigned char> shown = canvas_pixels(w, h);
    // The filter -1: typed into the dialog, -2: dropped.
    const struct { std::string path; int filter; const char* said; } cases[] = {
        {folder + "/picture.png", -1, "picture.png is not a DICOM file."},
        {folder + "/picture.png", 2, "picture.png is not a Sonix ultrasound file."},
        {folder + "/text.dcm", -2, "text.dcm': no loader recognised it."},
        {cut, 1, "cut.dcm is truncated: its pixel data end after the end of the file."},
        {cut, 6, "cut.dcm is truncated"}, {cut, -2, "cut.dcm is truncated"},
        {"/nonexistent/file.xyz", -2, "'/nonexistent/file.xyz': No such file or directory."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + c.said);
        std::vector<std::string> said;
        {
            log_capture capture;
            if (c.filter == -1) {
                ASSERT_TRUE(answer_file_dialog("Open image or sequence", c.path));
                command(ID_OPEN);
                pump_for(0.2);
            } else {
                EXPECT_FALSE(c.filter == -2 ? myframe->open_dropped_file(c.path) : myframe->open_file(c.path, c.filter));
            }
            said = capture.messages;
        }
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find(c.said), std::string::npos) << said[0];
        ASSERT_TRUE(info.raw_image == kept && std::equal(samples.begin(), samples.end(), kept));
        EXPECT_EQ(std::make_tuple(info.file_type, info.frame, info.frames), std::make_tuple(1, frame, 12))
            << "the DICOM series stays open";
        EXPECT_EQ(myframe->GetTitle() + status(1), title + zoom_text);
    }
    EXPECT_TRUE(myframe->slider(ID_FRAME)->IsEnabled() && myframe->control(ID_FILTER)->IsEnabled());
    EXPECT_EQ(canvas_pixels(w, h), shown) << "the canvas shows the same frame";
    slide(ID_FRAME, info.first_frame + 7);
    EXPECT_EQ(info.frame, info.first_frame + 7) << "the old series still steps";
    wxSetWorkingDirectory(wxFileName::GetTempDir());
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    close_program();
}

using RealInput = GuiTest;

// A real drag of the filter-range slider while the median runs: the value the user leaves the
// slider at is the one that is filtered with, and the slider shows it.
TEST_F(RealInput, SliderDraggedDuringARunEndsAtItsLastValue)
{
    ASSERT_TRUE(have_xdotool()) << "xdotool is installed by scripts/install-deps.sh";
    load_phantom(512, 512);
    myframe->pages->SetSelection(1);
    choose(ID_FILTER, 3);
    choose(ID_MASK, 2);
    slide(ID_FILTER_SIZE, 3);
    myframe->Raise();
    pump_for(0.3);
    wxSlider* s = myframe->slider(ID_FILTER_SIZE);
    const wxPoint p = s->GetScreenPosition();
    const wxSize sz = s->GetSize();
    auto at = [&](int v) {
        const double f = (double)(v - s->GetMin()) / (s->GetMax() - s->GetMin());
        return std::to_string(p.x + 12 + (int)(f * (sz.x - 24))) + " " + std::to_string(p.y + sz.y / 2);
    };
    const std::string done = ::testing::TempDir() + "drag_done";
    std::remove(done.c_str());
    std::string moves = "mousemove --sync " + at(3) + " mousedown 1";
    for (int v = 4; v <= 9; v++) moves += " mousemove " + at(v) + " sleep 0.05";
    moves += " mouseup 1";
    // In the background, so that the drag meets the runs it starts.
    ASSERT_EQ(std::system(("(xdotool " + moves + "; touch " + done + ") >/dev/null 2>&1 &").c_str()), 0);
    pump_until([&] { return wxFileName::FileExists(done); }, 30.0);
    pump_until([] { return !pipeline_running() && deferred_input_count() == 0; }, 60.0);
    pump_for(0.5);
    std::remove(done.c_str());
    EXPECT_EQ(s->GetValue(), info.filter_size);
    EXPECT_GE(info.filter_size, 8);
}
