// The reference and saving options shared by the verbs that run the pipeline ("process",
// "display", "compare", "save"): --ref REF, --ssim and --save OUT.ext.
#pragma once

#include <string>

#include "batch/batch_args.h"

// After the pipeline has run: with --ref, loads REF as "Open reference" does; with --ssim
// the report carries SSIM. Prints the comparison report (as the status bar shows it) on
// stdout when --ref was given, when `always` is set, or when a filter is chosen while a
// reference is loaded (as the pipeline's own comparison would). Returns true when a report
// was printed. Throws run_error when REF is refused, or when `always` is set and there is
// nothing to compare.
bool report_reference_comparison(const batch_args& args, bool always = false);

// With --save OUT.ext (or the given option name): writes the processed image, or the
// display image when `displayed`, as the save commands do; the type follows the
// extension (.bin: binary dump). Throws usage_error for an unknown extension and
// run_error when nothing could be written. Returns true when a file was written.
bool save_as_requested(const batch_args& args, bool displayed, const std::string& option = "--save");

// batch_load, then the pipeline once (sample_image, process_image).
void load_and_process(const batch_args& args);

// The save type index for an output name by its extension; usage_error for an unknown one.
int export_index_of(const std::string& out);
