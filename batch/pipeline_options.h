// Options shared by the batch verbs that run the pipeline ("process", "display").
#pragma once

#include <string>

#include "batch/batch_args.h"

// --subsample, --no-subsample-filter and --colour (checked against the colour spaces the
// data's layout allows, as the colour choice does).
void apply_sampling_options(const batch_args& args);
// --filter, --size, --centile, --level, --no-level, --auto-level, --multires, --mask,
// --angle, --noise.
void apply_filter_options(const batch_args& args);
