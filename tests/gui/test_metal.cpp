// The CT Metal and CT Recon pages in the real window: "Apply", "Cont." and "Reconstruct"
// on the MAR phantom change the picture and report their times; input during a run waits.
#include <wx/statusbr.h>

#include "commands/pipeline.h"
#include "gui_fixture.h"

using MetalPage = GuiTest;

TEST_F(MetalPage, ApplyContinueAndReconstructChangeThePicture)
{
    ASSERT_TRUE(myframe->open_dropped_file(VOXMIRA_FIXTURES "/mar/metal/mar_0002.dcm"));
    pump_for(0.2);
    int w = 0, h = 0;
    const std::vector<unsigned char> before = canvas_pixels(w, h);
    const std::vector<int> loaded(info.sampled_image, info.sampled_image + (size_t)info.proc_width * info.proc_height);

    choose(ID_METAL_CHOICE, 3);  // "LI + NMAR" runs at once
    pump_for(0.2);
    EXPECT_TRUE(status(2).StartsWith("MAR in ")) << status(2);
    const std::vector<unsigned char> after = canvas_pixels(w, h, "metal_apply");
    EXPECT_NE(after, before);
    EXPECT_NE(std::vector<int>(info.sampled_image, info.sampled_image + loaded.size()), loaded);
    EXPECT_FALSE(pipeline_running());

    click(ID_METAL_CONT);
    pump_for(0.1);
    EXPECT_TRUE(status(2).Contains("% change in ")) << status(2);

    click(ID_METAL_RESET);
    pump_for(0.1);
    EXPECT_EQ(std::vector<int>(info.sampled_image, info.sampled_image + loaded.size()), loaded);

    click(ID_RECON);
    pump_for(0.2);
    EXPECT_TRUE(status(2).StartsWith("Reconstruction in "));
    EXPECT_EQ(info.recon_only, 0);
    canvas_pixels(w, h, "metal_recon");
    // Reset takes the projection line and the run's report away with the reconstruction.
    click(ID_RECON_RESET);
    pump_for(0.1);
    EXPECT_EQ(info.profile_length, 0);
    EXPECT_EQ(status(2), "");
}

TEST_F(MetalPage, ColourDataAreRefusedWithAMessage)
{
    load_colour_ramp();
    const std::vector<int> raw(info.raw_image, info.raw_image + (size_t)info.width * info.height * info.channels);
    click(ID_METAL_APPLY);
    EXPECT_TRUE(status(0).StartsWith("Cannot correct: ")) << status(0);
    EXPECT_EQ(std::vector<int>(info.raw_image, info.raw_image + raw.size()), raw);
}
