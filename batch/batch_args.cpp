#include "batch/batch_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

bool parse_long(const std::string& text, long& out)
{
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end) return false;
    out = v;
    return true;
}

bool parse_double(const std::string& text, double& out)
{
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno || *end || !std::isfinite(v)) return false;
    out = v;
    return true;
}

batch_args::batch_args(const std::vector<std::string>& args,
                       const std::vector<option_spec>& options, size_t positional_min,
                       size_t positional_max)
{
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            const option_spec* spec = nullptr;
            for (const option_spec& o : options)
                if (a == o.name) spec = &o;
            if (!spec) throw usage_error("unknown option " + a);
            // A second value would silently replace the first: the user meant one of them.
            if (values.count(a)) throw usage_error(a + " is given more than once");
            if (spec->takes_value) {
                if (i + 1 >= args.size()) throw usage_error(a + " needs a value");
                values[a] = args[++i];
            } else {
                values[a] = "";
            }
        } else if (a.size() > 1 && a[0] == '-' && !std::isdigit((unsigned char)a[1])) {
            throw usage_error("unknown option " + a);
        } else {
            positionals.push_back(a);
        }
    }
    if (positionals.size() < positional_min)
        throw usage_error(positional_min == 1 ? "missing FILE" : "missing arguments");
    if (positionals.size() > positional_max)
        throw usage_error("unexpected argument " + positionals[positional_max]);
}

const std::string& batch_args::value(const std::string& name) const
{
    static const std::string none;
    auto it = values.find(name);
    return it == values.end() ? none : it->second;
}

long batch_args::integer(const std::string& name, long fallback, long min, long max) const
{
    if (!has(name)) return fallback;
    long v = 0;
    if (!parse_long(value(name), v))
        throw usage_error(name + " needs a whole number, not '" + value(name) + "'");
    if (v < min || v > max)
        throw usage_error(name + " must be between " + std::to_string(min) + " and " +
                          std::to_string(max));
    return v;
}

double batch_args::real(const std::string& name, double fallback, double min, double max) const
{
    if (!has(name)) return fallback;
    double v = 0;
    if (!parse_double(value(name), v))
        throw usage_error(name + " needs a number, not '" + value(name) + "'");
    if (v < min || v > max)
        throw usage_error(name + " is out of range");
    return v;
}

std::vector<double> batch_args::numbers(const std::string& name, size_t count) const
{
    std::vector<double> out;
    const std::string& text = value(name);
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        double v = 0;
        if (!parse_double(part, v)) break;
        out.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (out.size() != count)
        throw usage_error(name + " needs " + std::to_string(count) +
                          " comma-separated numbers, not '" + text + "'");
    return out;
}

void batch_args::size_pair(const std::string& name, int& w, int& h) const
{
    const std::string& text = value(name);
    const size_t x = text.find('x');
    long a = 0, b = 0;
    if (x == std::string::npos || !parse_long(text.substr(0, x), a) ||
        !parse_long(text.substr(x + 1), b) || a < 1 || b < 1 || a > 32767 || b > 32767)
        throw usage_error(name + " needs WxH with sizes from 1 to 32767, not '" + text + "'");
    w = (int)a;
    h = (int)b;
}
