// Argument parsing for voxmira-batch verbs.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// A bad argument: main prints the message and the verb's usage, and exits 2.
struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure to do the work (unreadable or unloadable file): exits 1 with the message.
struct run_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct option_spec {
    const char* name;   // "--frame"
    bool takes_value;   // "--frame N" as opposed to a flag such as "--gradient"
};

class batch_args {
public:
    // Parses the arguments after the verb. Throws usage_error for an unknown option, a
    // missing value or the wrong number of positional arguments.
    batch_args(const std::vector<std::string>& args, const std::vector<option_spec>& options,
               size_t positional_min, size_t positional_max);

    bool has(const std::string& name) const { return values.count(name) != 0; }
    const std::string& value(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positionals; }

    // Typed values with range checks; `fallback` when the option is absent.
    long integer(const std::string& name, long fallback, long min, long max) const;
    double real(const std::string& name, double fallback, double min, double max) const;
    // "A,B" pairs and "A,B,C,D" lists of numbers.
    std::vector<double> numbers(const std::string& name, size_t count) const;
    // "WxH".
    void size_pair(const std::string& name, int& w, int& h) const;

private:
    std::map<std::string, std::string> values;
    std::vector<std::string> positionals;
};

// Parses a whole decimal integer; false on anything else (trailing text, overflow).
bool parse_long(const std::string& text, long& out);
bool parse_double(const std::string& text, double& out);
