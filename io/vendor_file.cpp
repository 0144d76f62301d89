#include "io/vendor_file.h"

#include "core/path_buffer.h"

vendor_file::vendor_file(const char* path)
{
    if (!path || !is_regular_file(path)) return;  // never a fifo that would wait for a writer
    f = std::fopen(path, "rb");
    if (!f) return;
    if (fseeko(f, 0, SEEK_END) == 0) bytes = ftello(f);
    if (bytes < 0) bytes = 0;
}

bool vendor_file::read_at(int64_t offset, void* out, size_t n)
{
    if (!f || offset < 0 || offset > bytes || (int64_t)n > bytes - offset) return false;
    if (fseeko(f, offset, SEEK_SET) != 0) return false;
    return std::fread(out, 1, n, f) == n;
}
