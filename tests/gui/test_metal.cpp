// The CT Metal and CT Recon pages: their buttons change the picture and report their times.
#include "commands/pipeline.h"
#include "gui_fixture.h"

using MetalPage = GuiTest;

TEST_F(MetalPage, ApplyContinueAndReconstructChangeThePicture)
{
    ASSERT_TRUE(myframe->open_dropped_file(VOXMIRA_FIXTURES "/mar/metal/mar_0002.dcm"));
    pump_for(0.2);
    int w = 0, h = 0;
    const std::vector<unsigned char> before = canvas_pixels(w, h);
    const size_t n = (size_t)info.proc_width * info.proc_height;
    const std::vector<int> loaded(info.sampled_image, info.sampled_image + n);

    choose(ID_METAL_CHOICE, 3);  // "LI + NMAR" runs at once
    pump_for(0.2);
    EXPECT_TRUE(status(2).StartsWith("MAR in ")) << status(2);
    EXPECT_NE(canvas_pixels(w, h, "metal_apply"), before);
    EXPECT_NE(std::vector<int>(info.sampled_image, info.sampled_image + n), loaded);
    EXPECT_FALSE(pipeline_running());

    click(ID_METAL_CONT);
    pump_for(0.1);
    EXPECT_TRUE(status(2).Contains("% change in ")) << status(2);

    click(ID_METAL_RESET);
    pump_for(0.1);
    EXPECT_EQ(std::vector<int>(info.sampled_image, info.sampled_image + n), loaded);

    click(ID_RECON);
    pump_for(0.2);
    EXPECT_TRUE(status(2).StartsWith("Reconstruction in ") && info.recon_only == 0) << status(2);
    canvas_pixels(w, h, "metal_recon");
    // Reset takes the projection line and the run's report away with the reconstruction.
    click(ID_RECON_RESET);
    pump_for(0.1);
    EXPECT_TRUE(info.profile_length == 0 && status(2).empty());
}

TEST_F(MetalPage, ColourDataAreRefusedWithAMessage)
{
    load_colour_ramp();
    const std::vector<int> raw(info.raw_image, info.raw_image + (size_t)info.width * info.height * info.channels);
    click(ID_METAL_APPLY);
    EXPECT_TRUE(status(0).StartsWith("Cannot correct: ")) << status(0);
    EXPECT_EQ(std::vector<int>(info.raw_image, info.raw_image + raw.size()), raw);
}
