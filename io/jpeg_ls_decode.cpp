#include "io/jpeg_ls_decode.h"

#include <charls/charls.h>
#include <cstring>
#include <vector>

namespace {

// Owns a CharLS decoder.
struct decoder {
    charls_jpegls_decoder* d = charls_jpegls_decoder_create();
    ~decoder()
    {
        if (d) charls_jpegls_decoder_destroy(d);
    }
};

}  // namespace

bool jpeg_ls_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out)
{
    // SOI then SOF55, the JPEG-LS frame header.
    if (length < 4 || f[0] != 0xFF || f[1] != 0xD8 || f[2] != 0xFF || f[3] != 0xF7) return false;
    decoder dec;
    if (!dec.d) return false;
    charls_frame_info frame{};
    charls_interleave_mode mode = charls::interleave_mode::none;
    if (charls_jpegls_decoder_set_source_buffer(dec.d, f, length) != charls::jpegls_errc::success ||
        charls_jpegls_decoder_read_header(dec.d) != charls::jpegls_errc::success ||
        charls_jpegls_decoder_get_frame_info(dec.d, &frame) != charls::jpegls_errc::success ||
        charls_jpegls_decoder_get_interleave_mode(dec.d, &mode) != charls::jpegls_errc::success) {
        out.refusal = "its JPEG-LS data are damaged";
        return false;
    }
    // Every property of the codestream must be the header's before a sample is written.
    const int samples = h.samples ? h.samples : 1;
    if (frame.width != h.columns || frame.height != h.rows || frame.component_count != samples ||
        frame.bits_per_sample < 2 || frame.bits_per_sample > 16 ||
        (frame.bits_per_sample > 8) != (h.bits_allocated == 16)) {
        out.refusal = "its JPEG-LS data describe another image than its header";
        return false;
    }
    size_t bytes = 0;
    if (charls_jpegls_decoder_get_destination_size(dec.d, 0, &bytes) != charls::jpegls_errc::success) {
        out.refusal = "its JPEG-LS data are damaged";
        return false;
    }
    const size_t values = (size_t)h.rows * h.columns * samples;
    const size_t per = frame.bits_per_sample > 8 ? 2 : 1;
    if (bytes != values * per) {
        out.refusal = "its JPEG-LS data describe another image than its header";
        return false;
    }
    // Decoded straight into the frame's samples (colour coded by plane goes through a
    // temporary and is interleaved by pixel).
    const bool planar = samples == 3 && mode == charls::interleave_mode::none;
    std::vector<uint8_t> planes(planar ? bytes : 0);
    uint8_t* target;
    if (per == 1) {
        out.bytes.resize(values);
        target = out.bytes.data();
    } else {
        out.words.resize(values);
        target = reinterpret_cast<uint8_t*>(out.words.data());
    }
    if (charls_jpegls_decoder_decode_to_buffer(dec.d, planar ? planes.data() : target, bytes, 0) !=
        charls::jpegls_errc::success) {
        out.bytes.clear();
        out.words.clear();
        out.refusal = "its JPEG-LS data do not decode (damaged or truncated)";
        return false;
    }
    if (planar) {
        const size_t n = (size_t)h.rows * h.columns;
        for (size_t i = 0; i < n; i++)
            for (int c = 0; c < 3; c++) std::memcpy(target + (i * 3 + c) * per, &planes[(c * n + i) * per], per);
    }
    out.kind = per == 1 ? decoded_kind::bytes8 : decoded_kind::words16;
    return true;
}
