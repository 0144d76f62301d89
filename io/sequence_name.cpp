#include "io/sequence_name.h"

#include <climits>

bool find_sequence_field(const std::string& path, sequence_field& field)
{
    size_t last = std::string::npos;
    for (size_t i = path.size(); i-- > 0;)
        if (path[i] >= '0' && path[i] <= '9') {
            last = i;
            break;
        }
    if (last == std::string::npos) return false;
    size_t start = last;
    while (start > 0 && path[start - 1] >= '0' && path[start - 1] <= '9') start--;
    field.start = start;
    field.digits_end = last + 1;
    field.end = field.digits_end;
    while (field.end < path.size() && path[field.end] == ' ') field.end++;
    field.zero_padded = path[start] == '0';
    long n = 0;
    for (size_t i = start; i < field.digits_end; i++) {
        const int d = path[i] - '0';
        n = n > (LONG_MAX - d) / 10 ? LONG_MAX : n * 10 + d;
    }
    field.number = n;
    return true;
}

std::string sequence_file_name(const std::string& path, const sequence_field& field, long n)
{
    std::string number = std::to_string(n);
    const size_t width = field.end - field.start;
    if (field.end > field.digits_end) {
        if (number.size() < width) number.append(width - number.size(), ' ');
    } else if (field.zero_padded && number.size() < width) {
        number.insert(n < 0 ? 1 : 0, width - number.size(), '0');
    }
    return path.substr(0, field.start) + number + path.substr(field.end);
}

bool find_sequence_range(const std::string& path, const sequence_field& field,
                         const std::function<bool(const std::string&)>& exists,
                         const std::function<bool()>& pulse, long& first, long& count)
{
    const long s = field.number;
    first = s;
    count = 1;
    for (long n = s - 1; n >= 0; n--) {
        if (n % 10 == 0 && pulse && !pulse()) return false;
        if (!exists(sequence_file_name(path, field, n))) break;
        first = n;
    }
    long above = s + 1;
    for (; above < LONG_MAX; above++) {
        if (above % 10 == 0 && pulse && !pulse()) break;
        if (!exists(sequence_file_name(path, field, above))) break;
    }
    count = above - first;
    return true;
}
