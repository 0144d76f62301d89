#include "commands/command_line.h"

#include <string>

// The toolkit turns the argument bytes into text by the locale; in the C locale each byte
// becomes the character of that code (so "ü", bytes C3 BC, arrives as "Ã¼"). Bytes that
// form valid UTF-8 are the file system's name and are read back as such.
static wxString file_argument(const wxString& a)
{
    std::string bytes;
    bool high = false;
    for (wxUniChar c : a) {
        if (c.GetValue() > 0xFF) return a;
        high = high || c.GetValue() >= 0x80;
        bytes += (char)c.GetValue();
    }
    if (!high) return a;
    const wxString utf8 = wxString::FromUTF8(bytes.c_str(), bytes.size());
    return utf8.empty() ? a : utf8;
}

command_line_t parse_command_line(const std::vector<wxString>& args)
{
    command_line_t result;
    for (const wxString& a : args) {
        if (a.StartsWith("-")) {
            if (a.length() >= 2 && (a[1] == 'M' || a[1] == 'm')) result.batch = true;
            continue;
        }
        result.file_name = file_argument(a);
    }
    return result;
}
