// Small helpers the vendor-format loaders share: whole-file access with its size and
// byte-order reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

inline int32_t le32(const unsigned char* p)
{
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
}
inline int64_t le64(const unsigned char* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
    return (int64_t)v;
}
inline uint16_t le16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint16_t be16(const unsigned char* p) { return (uint16_t)(p[0] << 8 | p[1]); }
inline float lef32(const unsigned char* p)
{
    const uint32_t u = (uint32_t)le32(p);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}
inline double lef64(const unsigned char* p)
{
    const uint64_t u = (uint64_t)le64(p);
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}
