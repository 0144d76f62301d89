// voxmira-batch: the core's loaders, pipeline and writers without a display.
//
// Exit codes: 0 success, 1 a file no loader accepts or work that failed, 2 bad arguments.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>

#include "core/memory.h"
#include "core/record.h"
#include "batch/batch_verbs.h"

static std::vector<batch_verb>& verb_table()
{
    static std::vector<batch_verb> table;
    return table;
}

batch_verb_registrar::batch_verb_registrar(const batch_verb& verb) { verb_table().push_back(verb); }

const std::vector<batch_verb>& batch_verbs() { return verb_table(); }

const std::vector<option_spec>& load_options()
{
    static const std::vector<option_spec> options = {
        {"--loader", true}, {"--frame", true}, {"--xtreme-load", true}, {"--xtreme-recon", true}};
    return options;
}

std::vector<option_spec> with_load_options(std::vector<option_spec> extra)
{
    extra.insert(extra.end(), load_options().begin(), load_options().end());
    return extra;
}

static bool takes_load_options(const batch_verb& verb)
{
    for (const option_spec& o : verb.options)
        if (std::strcmp(o.name, "--loader") == 0) return true;
    return false;
}

static void print_verb_usage(FILE* out, const batch_verb& verb)
{
    std::fprintf(out, "Usage: voxmira-batch %s", verb.usage);
    if (takes_load_options(verb)) std::fprintf(out, "%s", load_options_usage);
}
const char* const load_options_usage =
    "  --loader auto|image|dicom|sonix|qct|dfe|rsq   loader to use (auto: start-up order)\n"
    "  --frame N          load frame N after the first open, as the frame slider would\n"
    "  --xtreme-load K    micro-CT raw files: 0 sinogram, 1 X-ray projection, 2..4\n"
    "                     reconstruction x1, x2, x4 (default 2)\n"
    "  --xtreme-recon K   micro-CT reconstruction: 0 planar, 1 Parallel-FDK (default 0)\n";

static void print_tool_usage(FILE* out)
{
    std::fprintf(out,
                 "Usage: voxmira-batch VERB [options] FILE ...\n"
                 "Loads, processes and saves images as the Voxmira desktop program does, "
                 "without a display.\n\nVerbs:\n");
    for (const batch_verb& v : batch_verbs()) std::fprintf(out, "  %-10s %s\n", v.name, v.summary);
    std::fprintf(out,
                 "\n\"voxmira-batch VERB --help\" describes a verb's options.\n"
                 "Exit status: 0 success, 1 a file could not be loaded or written, "
                 "2 bad arguments.\n");
}

static const batch_verb* find_verb(const std::string& name)
{
    for (const batch_verb& v : batch_verbs())
        if (name == v.name) return &v;
    return nullptr;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "voxmira-batch: missing verb\n");
        print_tool_usage(stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        print_tool_usage(stdout);
        return 0;
    }
    const batch_verb* verb = find_verb(first);
    if (!verb) {
        std::fprintf(stderr, "voxmira-batch: unknown verb '%s'\n", first.c_str());
        print_tool_usage(stderr);
        return 2;
    }
    std::vector<std::string> rest(argv + 2, argv + argc);
    for (const std::string& a : rest)
        if (a == "--help" || a == "-h") {
            print_verb_usage(stdout, *verb);
            return 0;
        }

    // Past a file-size limit a write then fails with EFBIG, which the writers report,
    // rather than the signal ending the tool with a partial file.
    std::signal(SIGXFSZ, SIG_IGN);
    wxInitializer wx_init;
    if (!wx_init.IsOk()) {
        std::fprintf(stderr, "voxmira-batch: could not initialise wxWidgets\n");
        return 1;
    }
    wxInitAllImageHandlers();
    keep_freed_memory();
    wxLog::DisableTimestamp();
    delete wxLog::SetActiveTarget(new wxLogStderr);

    info.histogram_bins = 256;
    info.histogram = new int[info.histogram_bins]();
    reset_info();

    int status = 0;
    try {
        batch_args args(rest, verb->options, verb->positional_min, verb->positional_max);
        status = verb->run(args);
    } catch (const usage_error& e) {
        std::fprintf(stderr, "voxmira-batch %s: %s\n", verb->name, e.what());
        print_verb_usage(stderr, *verb);
        status = 2;
    } catch (const run_error& e) {
        wxLog::FlushActive();
        std::fprintf(stderr, "voxmira-batch %s: %s\n", verb->name, e.what());
        status = 1;
    } catch (const memory_refused&) {
        status = 1;  // the stage that ran short has said so
    } catch (const std::bad_alloc&) {
        wxLog::FlushActive();
        std::fprintf(stderr, "voxmira-batch %s: not enough memory for this file\n", verb->name);
        status = 1;
    } catch (const std::length_error&) {
        wxLog::FlushActive();
        std::fprintf(stderr, "voxmira-batch %s: not enough memory for this file\n", verb->name);
        status = 1;
    }
    wxLog::FlushActive();
    reset_info();
    release_array(info.histogram);
    return status;
}
