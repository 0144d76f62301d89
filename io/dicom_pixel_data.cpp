#include "io/dicom_pixel_data.h"

#include <cstring>
#include <sys/mman.h>
#include <wx/log.h>

#include "core/checked_size.h"
#include "io/jpeg12_decode.h"
#include "io/jpeg8_decode.h"
#include "io/jpeg2000_decode.h"
#include "io/jpeg_ls_decode.h"
#include "io/lossless_jpeg.h"
#include "io/rle_decode.h"

const char* const dicom_unsupported_compression_text =
    "This DICOM file contains compressed data, but in an unsupported format.\n"
    "Currently Voxmira only supports lossless JPEG, RLE and JPEG-2000 compressed formats.";

void advise_huge_pages(void* p, size_t bytes)
{
    const uintptr_t huge = (uintptr_t)2 << 20;
    const uintptr_t begin = ((uintptr_t)p + huge - 1) & ~(huge - 1);
    const uintptr_t end = ((uintptr_t)p + bytes) & ~(huge - 1);
    if (end > begin) ::madvise((void*)begin, end - begin, MADV_HUGEPAGE);
}

static bool try_lossless_jpeg(const uint8_t* f, size_t length, const dicom_header_t& h,
                              decoded_frame& out)
{
    if (length < 2 || f[0] != 0xFF || f[1] != 0xD8) return false;
    if (length > 0x7FFFFFFF) return false;
    // The stream must describe this frame, and every sample costs at least one bit, so a
    // header cannot make us allocate more than the fragment can fill.
    lossless_jpeg_frame frame;
    if (!lossless_jpeg_read_frame(f, length, frame)) return false;
    const size_t pixels = (size_t)h.rows * h.columns;
    if (frame.marker != 0xC3) return false;
    // From here on the data are lossless JPEG: a refusal says what is wrong with them.
    if (frame.width != h.columns || frame.height != h.rows) {
        out.refusal = "its lossless JPEG data describe another image than its header";
        return false;
    }
    if (pixels * h.samples > length * 8) {
        out.refusal = "its lossless JPEG data are too short for the image";
        return false;
    }
    unsigned char* stream = const_cast<unsigned char*>(f);  // read only
    const char* why = nullptr;
    if (h.bits_allocated == 8 && (h.samples == 1 || h.samples == 3)) {
        out.bytes.resize(pixels * h.samples);
        advise_huge_pages(out.bytes.data(), out.bytes.size());
        if (JPEGLosslessDecodeImage(stream, out.bytes.data(), 8 * h.samples, (int)length,
                                    out.bytes.size(), &why) == 0) {
            out.kind = decoded_kind::bytes8;
            return true;
        }
        out.bytes.clear();
    } else if (h.bits_allocated == 16 && h.samples == 1) {
        out.words.resize(pixels);
        advise_huge_pages(out.words.data(), out.words.size() * 2);
        if (JPEGLosslessDecodeImage(stream, reinterpret_cast<unsigned char*>(out.words.data()),
                                    16, (int)length, pixels * 2, &why) == 0) {
            out.kind = decoded_kind::words16;
            return true;
        }
        out.words.clear();
    }
    out.refusal = why ? std::string("its lossless JPEG data are damaged: ") + why
                      : "lossless JPEG is read for 8-bit grey or colour and 16-bit grey data only";
    return false;
}

static bool try_rle(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out)
{
    std::vector<uint8_t> bytes;
    if (!rle_decode_frame(f, length, h.rows, h.columns, h.samples, h.bits_allocated, bytes))
        return false;
    if (h.bits_allocated == 8) {
        out.bytes.assign(bytes.begin(), bytes.end());
        out.kind = decoded_kind::bytes8;
    } else if (h.bits_allocated == 32) {
        if (h.samples != 1) return false;
        out.bytes.assign(bytes.begin(), bytes.end());
        out.kind = decoded_kind::words32;
    } else {
        out.words.resize(bytes.size() / 2);
        std::memcpy(out.words.data(), bytes.data(), out.words.size() * 2);
        out.kind = decoded_kind::words16;
    }
    return true;
}

static bool try_jpeg2000(const uint8_t* f, size_t length, const dicom_header_t& h,
                         decoded_frame& out)
{
    if (!is_jpeg2000_stream(f, length)) return false;
    // Wavelet coding can shrink flat images enormously; still, a few bytes never stand for
    // more than a few thousand pixels each.
    const size_t pixels = (size_t)h.rows * h.columns;
    if (pixels > ((size_t)1 << 24) && pixels / 4096 > length) return false;
    // The codestream must have exactly the header's components (checked before decoding),
    // so the samples written never exceed the frame.
    std::string why;
    if (!jpeg2000_decode(f, length, h.rows, h.columns, h.samples == 3 ? 3 : 1, h.pixel_representation == 1,
                         h.bits_allocated, out.ints, &why, &out.rgb)) {
        out.refusal = why.empty() ? "its JPEG 2000 data do not decode (damaged or truncated)" : why;
        return false;
    }
    out.kind = decoded_kind::jpeg2000;
    return true;
}

size_t decoded_count(const decoded_frame& f)
{
    switch (f.kind) {
    case decoded_kind::jpeg2000: return f.ints.size();
    case decoded_kind::words16: return f.words.size();
    case decoded_kind::words32: return f.bytes.size() / 4;
    case decoded_kind::none: return 0;
    default: return f.bytes.size();
    }
}

bool decode_compressed_frame(const uint8_t* fragment, size_t length, const dicom_header_t& h,
                             decoded_frame& out)
{
    out = decoded_frame();
    if (!fragment || length == 0) return false;
    if (h.rows == 0 || h.columns == 0) return false;
    if (!mad3_sizes_valid(h.rows, h.columns, h.samples ? h.samples : 1, 0)) return false;
    if (jpeg_ls_decode(fragment, length, h, out)) return true;
    if (!out.refusal.empty()) return false;
    if (try_lossless_jpeg(fragment, length, h, out)) return true;
    if (!out.refusal.empty()) return false;
    if (jpeg12_decode(fragment, length, h, out) || jpeg8_decode(fragment, length, h, out)) return true;
    if (!out.refusal.empty()) return false;
    return try_rle(fragment, length, h, out) || try_jpeg2000(fragment, length, h, out);
}
