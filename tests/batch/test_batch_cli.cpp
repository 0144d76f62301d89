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
                             "raw a", "info a --loader tiffany"}) {
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
}

TEST(BatchCli, NotEnoughMemoryExitsOneWithAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer needs more address space than the limit leaves";
#endif
    // A canvas of 3 GB under a 1.5 GB address space: refused, no signal, nothing written.
    const std::string out = ::testing::TempDir() + "too_large.png";
    const batch_run_result r =
        run_batch("display " VOXMIRA_FIXTURES "/images/colour.png --size 32767x32767 --out " + out, true,
                  "ulimit -v 1500000");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("not enough memory for a 32767 x 32767 display image"), std::string::npos) << r.out;
    FILE* written = std::fopen(out.c_str(), "rb");
    EXPECT_EQ(written, nullptr);
    if (written) std::fclose(written);
}
