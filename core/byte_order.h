// Reading little- and big-endian numbers from byte buffers, whatever the host order.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint16_t be16(const uint8_t* p) { return (uint16_t)(p[0] << 8 | p[1]); }
inline uint32_t le32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline uint32_t be32(const uint8_t* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}
inline int64_t le64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
    return (int64_t)v;
}
inline float lef32(const uint8_t* p)
{
    const uint32_t u = le32(p);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}
inline double lef64(const uint8_t* p)
{
    const uint64_t u = (uint64_t)le64(p);
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}
