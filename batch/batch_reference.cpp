#include "batch/batch_reference.h"

#include <cstdio>
#include <wx/string.h>

#include "core/record.h"
#include "core/ui.h"
#include "batch/batch_load.h"
#include "evaluation/compare.h"
#include "evaluation/reference.h"
#include "io/save_image.h"
#include "commands/pipeline.h"

bool report_reference_comparison(const batch_args& args, bool always)
{
    if (args.has("--ssim")) info.show_ssim = 1;
    wxString report;
    if (args.has("--ref")) {
        if (!open_reference(wxString::FromUTF8(args.value("--ref").c_str())))
            throw run_error("could not use " + args.value("--ref") + " as the reference");
        report = ui_last_status(0);
    } else if (info.ref_image && (always || info.filter != FILTER_NONE)) {
        report = compare_to_ref(0, 0, info.proc_width, info.proc_height);
    } else if (always) {
        throw run_error("no reference found for " + args.positional().at(0) + "; give --ref REF");
    }
    if (report.empty()) {
        if (always || args.has("--ref"))
            throw run_error("the comparison needs sub-sampling 1 and images of one size");
        return false;
    }
    std::printf("%s\n", (const char*)report.utf8_str());
    return true;
}

bool save_as_requested(const batch_args& args, bool displayed, const std::string& option)
{
    if (!args.has(option)) return false;
    const std::string& out = args.value(option);
    const int index = export_index_of(out);
    const wxString path = wxString::FromUTF8(out.c_str());
    if (!(displayed ? save_display_image(path, index) : save_processed_image(path, index)))
        throw run_error("could not write " + out);
    return true;
}

void load_and_process(const batch_args& args)
{
    batch_load(args);
    sample_image();
    process_image();
}

int export_index_of(const std::string& out)
{
    const int index = export_index_for_path(wxString::FromUTF8(out.c_str()));
    if (index < 0)
        throw usage_error(out + ": the output name must end in .png, .jpg, .jpeg, .tif, .tiff, .bmp, .pnm, .ppm or .bin");
    return index;
}

