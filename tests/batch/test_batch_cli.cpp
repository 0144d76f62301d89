// voxmira-batch's argument handling and exit codes, run as a separate process.
#include <gtest/gtest.h>

#include "batch_runner.h"

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

TEST(BatchCli, HelpListsTheVerbsAndSucceeds)
{
    const batch_run_result r = run_batch("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info"), std::string::npos);
    EXPECT_NE(r.out.find("raw"), std::string::npos);
    EXPECT_EQ(run_batch("info --help").status, 0);
    EXPECT_EQ(run_batch("raw --help").status, 0);
}

TEST(BatchCli, BadArgumentsExitTwoWithAMessage)
{
    for (const char* args : {"", "frob x", "info", "info a b", "info --bogus a",
                             "info a --frame", "info a --frame x", "info a --frame -3",
                             "raw a", "info a --loader tiffany", "info a --frame 1 --frame 2",
                             "recon a", "display " VOXMIRA_SAMPLES "/camera_all_noise_016.png --out b.png --window 40,0"}) {
        const batch_run_result r = run_batch(args);
        EXPECT_EQ(r.status, 2) << "voxmira-batch " << args << "\n" << r.out;
        EXPECT_NE(r.out.find("voxmira-batch"), std::string::npos) << args;
    }
}

TEST(BatchCli, MissingOrUnloadableFileExitsOne)
{
    batch_run_result r = run_batch("info /nonexistent/scan.dcm");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("/nonexistent/scan.dcm"), std::string::npos) << r.out;

    // A file that is nothing Voxmira reads.
    const std::string junk = ::testing::TempDir() + "junk.xyz";
    FILE* f = std::fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not an image", f);
    std::fclose(f);
    r = run_batch("info " + junk);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no loader could open"), std::string::npos) << r.out;
    std::remove(junk.c_str());

    // A reference that is no file is named as missing, not as of another size.
    r = run_batch("compare " VOXMIRA_SAMPLES "/camera_all_noise_016.png --ref /nonexistent/ref.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no such file"), std::string::npos) << r.out;

    // Sub-sampling a 5 x 4 picture by 5 leaves nothing to filter: no time is reported.
    r = run_batch("process " VOXMIRA_FIXTURES "/images/colour.png --filter 3 --subsample 5 --out " + junk);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("leaves no pixel"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Filtering took"), std::string::npos) << r.out;
}
