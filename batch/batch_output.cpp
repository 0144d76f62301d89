#include "batch/batch_output.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "batch/batch_args.h"
#include "io/output_file.h"

void write_int32_file(const std::string& name, const int* values, size_t count)
{
    output_file out;
    if (!out.open(name)) throw run_error("could not write " + name);
    // Converted in blocks: a whole-image copy of a large frame costs more in fresh pages
    // than the conversion itself.
    const size_t block = 1 << 16;
    std::vector<unsigned char> bytes(std::min(block, count) * 4);
    for (size_t start = 0; start < count && !out.failed(); start += block) {
        const size_t m = std::min(block, count - start);
        for (size_t i = 0; i < m; i++) {
            const uint32_t v = (uint32_t)values[start + i];
            for (int b = 0; b < 4; b++) bytes[i * 4 + b] = (unsigned char)(v >> (8 * b));
        }
        out.write(bytes.data(), m * 4);
    }
    if (!out.commit()) throw run_error("could not write " + name);
}
