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

// The stream's markers, before the codec sees it: segments whose lengths lie inside the
// stream, one frame header ahead of the first scan, scans whose coded bytes hold no marker
// but restart markers in their order (or a further segment between scans), and an end of
// image after which only zero padding follows. One damaged byte usually breaks one of
// these, and refusing it here costs one pass over the bytes instead of a decode that may
// run to the end of the frame before it fails.
bool markers_sound(const uint8_t* f, size_t n)
{
    size_t pos = 2;
    int frames = 0, scans = 0;
    bool restarts = false;
    for (;;) {
        if (pos >= n || f[pos] != 0xFF) return false;
        while (pos < n && f[pos] == 0xFF) pos++;  // fill bytes
        if (pos >= n) return false;
        const uint8_t m = f[pos++];
        if (m == 0xD9) break;
        if ((m >= 0xD0 && m <= 0xD8) || m == 0x01) return false;  // no segment here
        if (n - pos < 2) return false;
        const size_t length = (size_t)f[pos] << 8 | f[pos + 1];
        if (length < 2 || length > n - pos) return false;
        if (m == 0xF7) frames++;
        if (m == 0xDD) restarts = length >= 4 && (f[pos + 2] || f[pos + 3]);
        pos += length;
        if (m != 0xDA) continue;
        if (frames != 1 || ++scans > 4) return false;
        // Coded bytes: an FF is followed by a byte below 80 (bit stuffing) or is a marker.
        int next_restart = 0;
        for (;;) {
            if (pos >= n) return false;
            if (f[pos++] != 0xFF) continue;
            while (pos < n && f[pos] == 0xFF) pos++;
            if (pos >= n) return false;
            const uint8_t b = f[pos];
            if (b < 0x80) continue;
            if (b >= 0xD0 && b <= 0xD7) {
                if (!restarts || b != 0xD0 + next_restart) return false;
                next_restart = (next_restart + 1) % 8;
                pos++;
                continue;
            }
            pos--;  // the marker that ends the scan, read by the loop above
            break;
        }
    }
    for (; pos < n; pos++)
        if (f[pos]) return false;
    return scans > 0;
}

}  // namespace

bool jpeg_ls_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out)
{
    // SOI then SOF55, the JPEG-LS frame header.
    if (length < 4 || f[0] != 0xFF || f[1] != 0xD8 || f[2] != 0xFF || f[3] != 0xF7) return false;
    if (!markers_sound(f, length)) {
        out.refusal = "its JPEG-LS data do not decode (damaged or truncated)";
        return false;
    }
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
