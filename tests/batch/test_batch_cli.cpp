// voxmira-batch's argument handling and exit codes, run as a separate process.
#include <gtest/gtest.h>

#include "batch_runner.h"
#include "core/path_buffer.h"
#include "../io/image_test_support.h"

#include <filesystem>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

TEST(BatchCli, HelpListsTheVerbsAndSucceeds)
{
    const batch_run_result r = run_batch("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* verb : {"info", "raw", "process", "display"}) {
        EXPECT_NE(r.out.find(verb), std::string::npos) << verb;
        EXPECT_EQ(run_batch(std::string(verb) + " --help").status, 0) << verb;
    }
}

TEST(BatchCli, BadArgumentsExitTwoWithAMessage)
{
    for (const char* args : {"", "frob x", "info", "info a b", "info --bogus a",
                             "info a --frame", "info a --frame x", "info a --frame -3",
                             "raw a", "info a --loader tiffany", "info a --frame 1 --frame 2",
                             "recon a", "process a", "display a", "display a --out x.tif",
                             "process a --out x --filter", "display a --out x.png --zoom",
                             "process a --out x --bogus", "display " VOXMIRA_SAMPLES "/camera_all_noise_016.png --out b.png --window 40,0"}) {
        const batch_run_result r = run_batch(args);
        EXPECT_EQ(r.status, 2) << "voxmira-batch " << args << "\n" << r.out;
        EXPECT_NE(r.out.find("voxmira-batch"), std::string::npos) << args;
    }
}

// Each failure names its reason: a missing file, a file nothing reads, a missing reference
// (not "of another size"), a sub-sampling that leaves nothing to filter (and no time
// reported), a fifo (never read) and a device, a PNM map whose largest value is 0.
TEST(BatchCli, MissingOrUnloadableFileExitsOne)
{
    const std::string dir = fresh_folder(), junk = dir + "junk.xyz", fifo = dir + "fifo.dcm", pnm = dir + "max0.dcm";
    write_file(junk, {'n', 'o'});
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string map = "P5\n4 4\n0\n0123456789abcdef";
    write_file(pnm, std::vector<char>(map.begin(), map.end()));
    const std::pair<std::string, const char*> cases[] = {
        {"info /nonexistent/scan.dcm", "/nonexistent/scan.dcm"},
        {"process /nonexistent.png --out /tmp/x.bin", "/nonexistent.png"},
        {"display /nonexistent.png --out /tmp/x.png", "/nonexistent.png"},
        {"info " + junk, "no loader could open"},
        {"compare " VOXMIRA_SAMPLES "/camera_all_noise_016.png --ref /nonexistent/ref.png", "no such file"},
        {"process " VOXMIRA_FIXTURES "/images/colour.png --filter 3 --subsample 5 --out " + junk, "leaves no pixel"},
        {"info " + fifo, "not a regular file"},
        {"info /dev/zero", "not a regular file"},
        {"info " + pnm, "largest sample value"},
    };
    for (const auto& [args, says] : cases) {
        const batch_run_result r = run_batch(args);
        EXPECT_EQ(r.status, 1) << args << "\n" << r.out;
        EXPECT_NE(r.out.find(says), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Filtering took"), std::string::npos) << r.out;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

// The files under `dir`, by relative name.
static std::set<std::string> files_in(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (!e.is_directory()) names.insert(e.path().string().substr(dir.size()));
    return names;
}

// Every writer refuses a symbolic link or the file being read as its output, and on a full
// disk (here a file-size limit of 0) exits 1 with the reason and leaves no file behind; the
// source is never touched.
TEST(BatchCli, WritersNeverOverwriteTheSourceNorLeavePartialFiles)
{
    struct writer {
        const char* source;  // a fixture, copied to the case's folder
        const char* args;    // SRC and OUT are filled in
        const char* ext;     // of OUT
        const char* first;   // the first file written for OUT NAME.ext: NAME + first + ext
    };
    const writer writers[] = {
        {"mar/nometal/mar_0001.dcm", "raw SRC --out OUT", ".dcm", ""},
        {"mar/nometal/mar_0001.dcm", "recon SRC --out OUT", ".dcm", ""},
        {"mar/nometal/mar_0001.dcm", "mar SRC --method 0 --out OUT", ".dcm", ""},
        {"mar/nometal/mar_0001.dcm", "save SRC --out OUT", ".tif", ""},
        {"images/ssim_noisy.png", "process SRC --out OUT", ".png", ""},
        {"images/ssim_noisy.png", "process SRC --filter 1 --save OUT", ".png", ""},
        {"images/ssim_noisy.png", "display SRC --out OUT", ".png", ""},
        {"images/ssim_noisy.png", "display SRC --out OUT", ".bin", ""},
        {"images/ssim_noisy.png", "save SRC --displayed --out OUT", ".png", ""},
        {"images/ssim_noisy.png", "save SRC --out OUT", ".jpg", ""},  // as BMP and PNM: one handler path
        {"images/ssim_noisy.png", "save SRC --out OUT", ".tif", ""},
        {"images/ssim_noisy.png", "save SRC --out OUT", ".bin", ""},
        {"images/pages16.tif", "sequence SRC --out OUT", ".png", "_0000"},
        {"images/pages16.tif", "dataset SRC", "", nullptr},
    };
    for (const writer& w : writers) {
        const std::string name = std::string(w.source).substr(std::string(w.source).rfind('/') + 1);
        const std::string ext = w.ext;
        // Over a link to the source, over the source itself (when the verb takes its name),
        // and on a full disk.
        for (const char* target : {"link", "source", "full"}) {
            const std::string t = target;
            if (!w.first && t != "full") continue;
            const std::string dir = fresh_folder(), src = dir + name;
            copy_file(std::string(VOXMIRA_FIXTURES) + "/" + w.source, src);
            const std::vector<char> before = file_bytes(src);
            std::string out = dir + t + ext;
            if (t == "link") { ASSERT_EQ(symlink(src.c_str(), (dir + t + w.first + ext).c_str()), 0); }
            if (t == "source") {
                if (src.compare(src.size() - ext.size(), ext.size(), ext) != 0 || *w.first) continue;
                out = src;
            }
            const std::string args = std::regex_replace(std::regex_replace(w.args, std::regex("SRC"), src),
                                                        std::regex("OUT"), out);
            const batch_run_result r = run_batch(args, true, t == "full" ? "ulimit -f 0; " : "");
            const std::string what = args + " (" + t + ")\n" + r.out;
            EXPECT_EQ(r.status, 1) << what;
            EXPECT_NE(r.out.find(t == "link" ? "symbolic link" : t == "source" ? "being read" : "File too large"),
                      std::string::npos) << what;
            EXPECT_EQ(file_bytes(src), before) << what;
            std::set<std::string> expected = {name};
            if (t == "link") expected.insert(t + w.first + ext);
            EXPECT_EQ(files_in(dir), expected) << what;
            std::system(("rm -rf '" + dir + "'").c_str());
        }
    }
}

// A multi-page TIFF whose second page cannot be read: the page is counted as not written
// and both verbs fail.
TEST(BatchCli, AnUnreadablePageIsReportedNotWritten)
{
    const std::string dir = fresh_folder(), src = dir + "pages.tif";
    std::vector<char> tiff = file_bytes(image_fixture("pages16.tif"));
    // The second page's strip offset (its directory at 280, entry 6) points past the end.
    const size_t at = 280 + 2 + 12 * 6 + 8;
    ASSERT_EQ(tiff.at(at - 8) + 256 * tiff.at(at - 7), 273);
    tiff[at + 3] = 0x7f;
    write_file(src, tiff);

    batch_run_result r = run_batch("dataset " + src);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("\"frames_written\":2,\"frames_not_written\":1"), std::string::npos) << r.out;
    r = run_batch("sequence " + src + " --out " + dir + "seq.png", false);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "1\n");
    std::system(("rm -rf '" + dir + "'").c_str());
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
    EXPECT_FALSE(is_regular_file(out)) << "nothing written";
}

TEST(BatchCli, NonAsciiInputPathsOpen)
{
    const std::string folder = ::testing::TempDir() + "M\xC3\xBCller";
    ::mkdir(folder.c_str(), 0700);
    for (const char* name : {"images/colour.png", "vendor/grey.b8", "rsq/phantom.rsq", "dicom/ct_s16.dcm"}) {
        const std::string copy = folder + "/\xC3\xBC" + std::string(name).substr(std::string(name).rfind('.'));
        copy_file(std::string(VOXMIRA_FIXTURES) + "/" + name, copy);
        const batch_run_result r = run_batch("info '" + copy + "' --xtreme-load 0", true, "export LC_ALL=C");
        EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
    }
    // Written there too, in the C locale: a picture, and a data set beside its source (not
    // under the working folder, where an unconvertible name once sent it).
    const std::string dcm = folder + "/\xC3\xBC.dcm";
    EXPECT_EQ(run_batch("save '" + dcm + "' --out '" + folder + "/\xC3\xBC.tif'", true, "export LC_ALL=C").status, 0);
    EXPECT_EQ(run_batch("dataset '" + dcm + "'", true, "export LC_ALL=C").status, 0);
    for (const std::string written : {"/\xC3\xBC.tif", "/proc/\xC3\xBC_proc.dcm"})
        EXPECT_TRUE(is_regular_file(folder + written)) << written;
    std::system(("rm -rf '" + folder + "'").c_str());
}
