// Start-up with no file (its black canvas: Canvas.GuardAndNoDataIgnoreEvents), and with a batch switch.
#include <unistd.h>
#include <wx/filename.h>

#include "app/main_app.h"
#include "gui_fixture.h"

TEST(Startup, NoFileOpensAnEmptyWindowAndClosesCleanly)
{
    ASSERT_TRUE(start_program_shown({}));
    pump_for(0.3);
    EXPECT_EQ(myframe->GetTitle(), titled());
    EXPECT_TRUE(info.file_name.empty() && info.raw_image == nullptr);

    // The window's close event ends the program: the frame goes and no window is left.
    wxCloseEvent close(wxEVT_CLOSE_WINDOW, myframe->GetId());
    close.SetEventObject(myframe);
    close.SetCanVeto(true);
    myframe->GetEventHandler()->ProcessEvent(close);
    EXPECT_EQ(myframe, nullptr);
    EXPECT_TRUE(pump_until([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_TRUE(info.histogram == nullptr && key == 0);
}

TEST(Startup, BatchSwitchCorrectsEveryFrameAndEnds)
{
    // A copy of the MAR phantom series (three frames with metal) in a folder without digits.
    const wxString folder = wxFileName::GetTempDir() + "/voxmira_batch_switch_" + wxString(std::string(6, 'a' + getpid() % 26));
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    ASSERT_TRUE(wxFileName::Mkdir(folder, 0777, wxPATH_MKDIR_FULL));
    for (const char* name : {"mar_0001.dcm", "mar_0002.dcm", "mar_0003.dcm"})
        ASSERT_TRUE(wxCopyFile(wxString(VOXMIRA_FIXTURES "/mar/metal/") + name, folder + "/" + name));

    // Nothing to read: no window is left and the status is a failure.
    EXPECT_FALSE(start_program({"-m"}));
    EXPECT_TRUE(wxGetApp().batch_finished && wxGetApp().batch_status != 0 && myframe == nullptr);

    EXPECT_FALSE(start_program({"-M", folder + "/mar_0002.dcm"}));
    EXPECT_TRUE(wxGetApp().batch_finished && wxGetApp().batch_status == 0 && myframe == nullptr);
    EXPECT_TRUE(pump_until([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_TRUE(info.raw_image == nullptr && key == 0);
    // One corrected file per frame, in the folder of the method (RMAR by default), each a
    // new image of the same size.
    for (const char* name : {"mar_0001", "mar_0002", "mar_0003"}) {
        const wxString source = folder + "/" + name + ".dcm", written = folder + "/refined/" + name + "_refined.dcm";
        ASSERT_TRUE(wxFileExists(written)) << written;
        EXPECT_EQ(wxFileName::GetSize(written), wxFileName::GetSize(source));
        EXPECT_NE(file_bytes(source), file_bytes(written)) << name << " was written unchanged";
    }
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
}
