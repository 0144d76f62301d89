// The command-line rules of start-up.
#pragma once

#include <wx/string.h>
#include <vector>

struct command_line_t {
    wxString file_name;  // empty when none was given
    bool batch = false;  // -m or -M: metal-artefact reduction of every frame, then exit
};

// Reads the arguments after the program name, in order: "-m"/"-M" (and any switch whose
// second character is m or M) selects batch mode; an argument not beginning with "-" is
// the file name, a later one replacing an earlier one; other switches, a lone "-"
// included, are ignored.
command_line_t parse_command_line(const std::vector<wxString>& args);
