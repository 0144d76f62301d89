#include "commands/command_line.h"

command_line_t parse_command_line(const std::vector<wxString>& args)
{
    command_line_t result;
    for (const wxString& a : args) {
        if (a.StartsWith("-")) {
            if (a.length() >= 2 && (a[1] == 'M' || a[1] == 'm')) result.batch = true;
            continue;
        }
        result.file_name = a;
    }
    return result;
}
