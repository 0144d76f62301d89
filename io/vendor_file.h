// Whole-file access with its size, shared by the vendor-format loaders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/byte_order.h"

// An open file that knows its size and closes itself.
class vendor_file {
public:
    explicit vendor_file(const char* path);
    ~vendor_file()
    {
        if (f) std::fclose(f);
    }
    vendor_file(const vendor_file&) = delete;
    vendor_file& operator=(const vendor_file&) = delete;

    bool ok() const { return f != nullptr; }
    int64_t size() const { return bytes; }
    // Reads n bytes at offset; false when they are not all in the file.
    bool read_at(int64_t offset, void* out, size_t n);

private:
    FILE* f = nullptr;
    int64_t bytes = 0;
};

