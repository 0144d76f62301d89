// Fuzzes the lossless JPEG decoder on a buffer: the frame header sizes the output (capped),
// and the stream is decoded in each output layout the reader uses.
#include <cstdint>
#include <vector>

#include "io/lossless_jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    lossless_jpeg_frame frame;
    if (!lossless_jpeg_read_frame(data, size, frame)) return 0;
    const size_t pixels = (size_t)frame.width * frame.height;
    if (pixels > (1u << 22)) return 0;
    std::vector<unsigned char> stream(data, data + size);
    for (int bits : {8, 16, 24}) {
        std::vector<unsigned char> out(pixels * (bits / 8));
        JPEGLosslessDecodeImage(stream.data(), out.data(), bits, (int)stream.size(), out.size());
    }
    // A buffer one byte short is refused, never overrun.
    std::vector<unsigned char> small(pixels > 0 ? pixels - 1 : 0);
    if (!small.empty())
        JPEGLosslessDecodeImage(stream.data(), small.data(), 8, (int)stream.size(), small.size());
    return 0;
}
