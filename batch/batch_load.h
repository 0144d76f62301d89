// Loading for voxmira-batch: the start-up loader chain, optional frame, the first view.
#pragma once

#include <string>

#include "batch/batch_args.h"

// Loads FILE (the first positional argument) as start-up does, honouring --loader and
// --frame, and pairs an ordinary image file with its reference by name as the Open
// command does. Throws usage_error for a bad --loader or --frame value, run_error when the file
// cannot be read or no loader accepts it.
void batch_load(const batch_args& args);

#include <wx/string.h>

// `text` as a JSON string (UTF-8, escaped).
std::string json_string(const wxString& text);

// The record after loading as one JSON object on one line.
std::string record_json();
