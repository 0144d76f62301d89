// The verbs of voxmira-batch. Each verb registers itself from its own source file with a
// static batch_verb_registrar; main dispatches by name.
#pragma once

#include <string>
#include <vector>

#include "batch/batch_args.h"

struct batch_verb {
    const char* name;
    const char* summary;  // one line for the tool's --help
    const char* usage;    // the verb's synopsis and option list for "VERB --help"
    std::vector<option_spec> options;
    size_t positional_min, positional_max;
    int (*run)(const batch_args& args);
};

struct batch_verb_registrar {
    explicit batch_verb_registrar(const batch_verb& verb);
};

const std::vector<batch_verb>& batch_verbs();

// Options every verb that loads a file accepts (a function, so that verbs may use it
// while registering during static initialisation).
const std::vector<option_spec>& load_options();
// `extra` followed by load_options().
std::vector<option_spec> with_load_options(std::vector<option_spec> extra);
// Usage lines for load_options.
extern const char* const load_options_usage;
