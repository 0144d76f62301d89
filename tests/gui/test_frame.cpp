// The main window: menus, the control pages' rows, titles, status texts.
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/html/helpctrl.h>
#include <wx/menu.h>
#include <wx/slider.h>
#include <wx/stattext.h>

#include "app/main_controls.h"
#include "gui_fixture.h"
#include "help/update_check.h"

using Frame = GuiTest;

static bool shown(int id) { return myframe->control(id)->IsShown(); }
static bool enabled(int id) { return myframe->control(id)->IsEnabled(); }
static bool menu_enabled(int id) { return myframe->GetMenuBar()->IsEnabled(id); }

TEST_F(Frame, NoDataDisablesOrHidesEverythingDataDependent)
{
    command(ID_CLOSE);
    EXPECT_EQ(myframe->GetTitle(), titled());
    EXPECT_EQ(status(1) + status(2), "") << "no zoom or pixel text for a closed file";
    for (int id : {ID_CLOSE, ID_SAVE_DISPLAY, ID_SAVE_PROCESSED, ID_SAVE_SEQUENCE, ID_OPEN_REF, ID_PROCESS_DICOM,
                   ID_ZOOM_FIT, ID_ZOOM_UNITY, ID_RESIZE, ID_REWINDOW, ID_OVERLAY, ID_FONT})
        EXPECT_FALSE(menu_enabled(id)) << id;
    EXPECT_TRUE(menu_enabled(ID_OPEN) && menu_enabled(ID_EXIT));
    EXPECT_EQ(menu_enabled(ID_HELP), help_found);
    for (int id : {ID_SUBSAMPLE, ID_SUBFILTER, ID_NOISE, ID_FILTER, ID_FILTER_SIZE, ID_THRESHOLD,
                   ID_INTERP, ID_GRADIENT, ID_SHOW_THRESHOLD, ID_USE_LEVEL, ID_FRAME, ID_METAL_ALL})
        EXPECT_FALSE(enabled(id)) << id;
    for (int id : {ID_COLOUR, ID_CHANNEL, ID_CENTILE, ID_USE_LEVEL, ID_AUTO_LEVEL, ID_LEVEL, ID_MULTIRES,
                   ID_ITERATIONS, ID_MASK, ID_ANGLE, ID_DETAIL, ID_HIPASS, ID_SHOW_NOISE})
        EXPECT_FALSE(shown(id)) << id;
}

TEST_F(Frame, OneFrameAgainstManyFrames)
{
    EXPECT_EQ(std::make_tuple(enabled(ID_FRAME), menu_enabled(ID_SAVE_SEQUENCE), menu_enabled(ID_SAVE_DISPLAY),
                              menu_enabled(ID_OPEN_REF), menu_enabled(ID_PROCESS_DICOM)),
              std::make_tuple(false, false, true, true, false));
    EXPECT_EQ(myframe->GetTitle(), titled(": 'phantom.dcm'"));

    load_phantom(64, 64, 5);
    info.first_frame = 3, info.frame = 4, info.dicom_output = 1;
    info.file_name = "/data/series/ct_0004.dcm", info.ref_file_name = "/refs/clean.png";
    myframe->reset_controls();
    const wxSlider* frames = myframe->slider(ID_FRAME);
    EXPECT_EQ(std::make_tuple(frames->GetMin(), frames->GetMax(), frames->GetValue()), std::make_tuple(3, 7, 4));
    EXPECT_TRUE(enabled(ID_FRAME) && menu_enabled(ID_SAVE_SEQUENCE) && menu_enabled(ID_PROCESS_DICOM));
    // Sub-sampled data are not written as a data set, whichever way the slider moves.
    slide(ID_SUBSAMPLE, 2);
    EXPECT_FALSE(menu_enabled(ID_PROCESS_DICOM));
    slide(ID_SUBSAMPLE, 1);
    EXPECT_TRUE(menu_enabled(ID_PROCESS_DICOM) && enabled(ID_METAL_ALL));
    EXPECT_FALSE(enabled(ID_AUTO_LEVEL)) << "auto level is off while writing data sets";
    EXPECT_EQ(myframe->GetTitle(), titled(": 'ct_0004.dcm' with ref 'clean.png'"));
    info.open_filter = 2;
    myframe->reset_controls();
    EXPECT_FALSE(menu_enabled(ID_OPEN_REF));
    // The HU sliders follow the data range, the range slider a quarter of it, the level slider
    // the data maximum (1500 here; 443 for the colour ramp).
    EXPECT_EQ(std::make_tuple(myframe->slider(ID_METAL_METAL)->GetMin(), myframe->slider(ID_METAL_AIR)->GetMax(),
                              myframe->slider(ID_METAL_RANGE)->GetMax(), myframe->slider(ID_LEVEL)->GetMax()),
              std::make_tuple(info.data_min, info.data_max, (info.data_max - info.data_min) / 4, 1500));
    load_colour_ramp();
    EXPECT_EQ(myframe->slider(ID_LEVEL)->GetMax(), 443);
}

// The rows each filter shows: centile (and its label), level (with multi-resolution), mask;
// line and ellipse masks add the orientation, multi-resolution its iterations.
TEST_F(Frame, FilterDependentRows)
{
    // Per filter: c(entile), a(nisotropy) in the centile row, l(evel), m(ask).
    const char* const rows[13] = {"", "m", "l", "lm", "clm", "clm", "clm", "", "cm", "", "l", "al", "clm"};
    for (int f = 0; f < 13; f++) {
        SCOPED_TRACE(f);
        choose(ID_FILTER, f);
        const std::string r = rows[f];
        const bool c = r.find('c') != r.npos, a = r.find('a') != r.npos, l = r.find('l') != r.npos;
        EXPECT_EQ(shown(ID_CENTILE), c || a);
        EXPECT_EQ(myframe->label(ID_CENTILE)->GetLabel(), c ? "Mask centile:" : a ? "Filter anisotropy:" : " ");
        for (int id : {ID_USE_LEVEL, ID_AUTO_LEVEL, ID_LEVEL, ID_MULTIRES}) EXPECT_EQ(shown(id), l) << id;
        EXPECT_EQ(shown(ID_MASK), r.find('m') != r.npos);
        EXPECT_EQ(shown(ID_HIPASS), f != 0);
    }
    // The anisotropic filter's slider shows and drives the anisotropy, not the centile.
    choose(ID_FILTER, 11);
    EXPECT_EQ(myframe->slider(ID_CENTILE)->GetValue(), 5);
    const int centile = info.centile;
    slide(ID_CENTILE, 9);
    EXPECT_EQ(std::make_pair(info.centile_alt, info.centile), std::make_pair(9, centile));
    // Choosing the same filter again resets its controls, also a value changed behind the
    // window's back.
    info.centile_alt = 6;
    choose(ID_FILTER, 11);
    EXPECT_EQ(std::make_pair(info.centile_alt, myframe->slider(ID_CENTILE)->GetValue()), std::make_pair(5, 5));
    choose(ID_FILTER, 3);
    EXPECT_FALSE(shown(ID_ANGLE));
    choose(ID_MASK, 5);
    EXPECT_TRUE(shown(ID_ANGLE));
    tick(ID_MULTIRES, true);
    EXPECT_TRUE(shown(ID_ITERATIONS));
    tick(ID_MULTIRES, false);
    EXPECT_FALSE(shown(ID_ITERATIONS));
}

TEST_F(Frame, DetailHighPassAndNoiseRows)
{
    // Ticking high-pass or show-noise hides the detail row and the other box.
    auto rows = [] { return std::make_tuple(shown(ID_DETAIL), shown(ID_HIPASS), shown(ID_SHOW_NOISE)); };
    choose(ID_FILTER, 2);
    EXPECT_EQ(rows(), std::make_tuple(true, true, true));
    tick(ID_HIPASS, true);
    EXPECT_EQ(rows(), std::make_tuple(false, true, false));
    tick(ID_HIPASS, false);
    tick(ID_SHOW_NOISE, true);
    EXPECT_EQ(info.show_hipass, 0);
    EXPECT_EQ(rows(), std::make_tuple(false, false, true));
    tick(ID_SHOW_NOISE, false);
    EXPECT_EQ(rows(), std::make_tuple(true, true, true));
}

TEST_F(Frame, ColourDataShowsColourAndChannelChoices)
{
    EXPECT_FALSE(shown(ID_COLOUR) || shown(ID_CHANNEL)) << "not for grey data";
    load_colour_ramp();
    EXPECT_TRUE(shown(ID_COLOUR) && shown(ID_CHANNEL) && enabled(ID_CHANNEL));
    wxChoice* ch = myframe->choice(ID_CHANNEL);
    EXPECT_EQ(wxJoin(ch->GetStrings(), '/'), "All channels/Red channel/Green channel/Blue channel");
    // The read-out names the channel.
    choose(ID_CHANNEL, 1);
    mouse(wxEVT_MOTION, 320, 240);
    EXPECT_TRUE(status(2).StartsWith("Red at pixel: ")) << status(2);
    choose(ID_CHANNEL, 0);
    mouse(wxEVT_MOTION, 320, 240);
    EXPECT_TRUE(status(2).StartsWith("RGB at pixel: ["));

    // RGB data refuses RGB Alpha, RAW Bayer and YUVdG; the choice snaps back.
    for (int refused : {7, 8, 9}) {
        choose(ID_COLOUR, refused);
        EXPECT_EQ(std::make_pair(info.colour, myframe->choice(ID_COLOUR)->GetSelection()), std::make_pair(1, 1));
    }
    choose(ID_COLOUR, 2);
    EXPECT_EQ(info.colour, 2);
    EXPECT_EQ(ch->GetString(1) + "/" + ch->GetString(2), "Hue channel/Saturation channel");
    choose(ID_CHANNEL, 2);
    EXPECT_EQ(info.channel, 2);
    // Grey processing empties the channel choice's meaning.
    choose(ID_COLOUR, 0);
    EXPECT_EQ(std::make_pair(info.colour, info.channel), std::make_pair(0, 0));
    EXPECT_FALSE(enabled(ID_CHANNEL));
}

TEST_F(Frame, DisplayMenuCommands)
{
    // The zooms of Unity and Fit: Canvas.ResizeKeepsFitZoomAndReportsStatus.
    command(ID_ZOOM_UNITY);
    info.centre.x = 100;
    command(ID_ZOOM_FIT);
    EXPECT_EQ(std::make_pair(info.zoom_mode, (int)info.centre.x), std::make_pair(0, 128)) << "Fit centres the image";
    for (int overlay : {0, 1}) {
        command(ID_OVERLAY);
        EXPECT_EQ(info.overlay, overlay);
    }
    info.window_centre = 7, info.window_range = 9;
    command(ID_REWINDOW);
    EXPECT_EQ(std::make_pair(info.window_centre, info.window_range), std::make_pair(40, 400));

    // Resize to image: unity zoom and a canvas the size of the image (as far as the
    // frame's minimum size allows).
    command(ID_RESIZE);
    EXPECT_EQ(std::make_pair(info.zoom_mode, info.zoom), std::make_pair(1, 1.0));
    pump_until([] { return myframe->canvas->GetClientSize().y == 256; }, 3.0);
    const int y = myframe->canvas->GetClientSize().y;
    EXPECT_TRUE(y == 256 || (y > 256 && myframe->GetSize().y <= myframe->GetMinSize().y)) << y;
    set_canvas_size(canvas_w, canvas_h);
    command(ID_ZOOM_FIT);
}

// The help book opens; the versions page rules; the start-up check stays silent when it
// fails, and "Check for updates" reports its own attempt once (offline, as the test machines
// are, its two messages and no dialog).
TEST_F(Frame, HelpBookAndUpdateMessages)
{
    EXPECT_TRUE(help_found && menu_enabled(ID_HELP)) << "the test binary has the book beside it";
    command(ID_HELP);
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(pump_until([] { return help->GetFrame() != nullptr; }, 3.0));

    const std::string access = "Could not access web page with Voxmira version information.",
                      latest = "Could not determine latest Voxmira version.";
    const struct {
        std::string page, fallback;
        std::vector<std::string> said;  // the last only as far as given
    } pages[] = {{std::string("<html><body>Voxmira ") + VOXMIRA_VERSION + " released</body></html>", "",
                  {"The version of Voxmira is already up to date."}},
                 {"<p>Original location: elsewhere</p>", "<b>Voxmira 9.70</b>",
                  {"Version 9.70 of Voxmira is now available."}},
                 {"", "", {access, latest}},
                 {"Release notes", "", {latest}}};
    for (const auto& p : pages) {
        const update_check_result r = evaluate_versions_pages(p.page, p.fallback);
        ASSERT_EQ(r.messages.size(), p.said.size()) << p.page;
        for (size_t k = 0; k < p.said.size(); k++) EXPECT_EQ(r.messages[k].find(p.said[k]), 0u) << p.page;
        EXPECT_EQ(r.newer, p.said[0][0] == 'V');
        if (r.newer) { EXPECT_EQ(r.latest, "9.70"); }
    }

    log_capture log;
    start_background_update_check();
    pump_for(4.0);  // the background check has ended (and been polled) by now
    wxLog::FlushActive();
    EXPECT_TRUE(log.messages.empty()) << log.messages.front();
    command(ID_UPDATE);
    wxLog::FlushActive();
    ASSERT_GE(log.messages.size(), 1u);
    if (log.messages[0] == access) { EXPECT_EQ(log.messages, std::vector<std::string>({access, latest})); }
}
