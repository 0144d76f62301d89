// voxmira-batch's argument handling and exit codes, run as a separate process.
#include <gtest/gtest.h>

#include "batch_runner.h"

#include <array>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utility>

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

    // A fifo (never read: nothing writes to it) and a device say what they are; a PNM map
    // whose largest value is 0 is refused by its header, whatever its name.
    const std::string fifo = ::testing::TempDir() + "fifo.dcm", pnm = ::testing::TempDir() + "max0.dcm";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    f = std::fopen(pnm.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("P5\n4 4\n0\n0123456789abcdef", f);
    std::fclose(f);
    for (const auto& [file, says] : {std::pair<std::string, const char*>{fifo, "not a regular file"},
                                     {"/dev/zero", "not a regular file"},
                                     {pnm, "largest sample value"}}) {
        r = run_batch("info " + file);
        EXPECT_EQ(r.status, 1) << file << "\n" << r.out;
        EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
    }
    std::remove(fifo.c_str());
    std::remove(pnm.c_str());
}

TEST(BatchCli, NonAsciiInputPathsOpen)
{
    const std::string folder = ::testing::TempDir() + "M\xC3\xBCller";
    ::mkdir(folder.c_str(), 0700);
    for (const char* name : {"images/colour.png", "dicom/ct_s16.dcm", "vendor/grey.b8", "rsq/phantom.rsq"}) {
        const std::string source = std::string(VOXMIRA_FIXTURES) + "/" + name;
        const std::string copy = folder + "/\xC3\xBC" + std::string(name).substr(std::string(name).rfind('.'));
        ASSERT_EQ(std::system(("cp '" + source + "' '" + copy + "'").c_str()), 0);
        const batch_run_result r = run_batch("info '" + copy + "' --xtreme-load 0");
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
        std::remove(copy.c_str());
    }
}
