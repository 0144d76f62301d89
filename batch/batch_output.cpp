#include "batch/batch_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "batch/batch_args.h"

void write_bytes_file(const std::string& name, const unsigned char* bytes, size_t count)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) throw run_error("cannot write " + name);
    const bool ok = std::fwrite(bytes, 1, count, f) == count;
    if (std::fclose(f) != 0 || !ok) {
        std::remove(name.c_str());
        throw run_error("could not write all of " + name);
    }
}

void write_int32_file(const std::string& name, const int* values, size_t count)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) throw run_error("cannot write " + name);
    // Converted in blocks: a whole-image copy of a large frame costs more in fresh pages
    // than the conversion itself.
    const size_t block = 1 << 16;
    std::vector<unsigned char> bytes(std::min(block, count) * 4);
    bool ok = true;
    for (size_t start = 0; start < count && ok; start += block) {
        const size_t m = std::min(block, count - start);
        for (size_t i = 0; i < m; i++) {
            const uint32_t v = (uint32_t)values[start + i];
            for (int b = 0; b < 4; b++) bytes[i * 4 + b] = (unsigned char)(v >> (8 * b));
        }
        ok = std::fwrite(bytes.data(), 1, m * 4, f) == m * 4;
    }
    if (std::fclose(f) != 0 || !ok) {
        std::remove(name.c_str());
        throw run_error("could not write all of " + name);
    }
}
