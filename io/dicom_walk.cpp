// The walk over a DICOM file's elements up to its pixel data.
#include "io/dicom_walk.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>
#include <wx/log.h>
#include <zlib.h>

#include "core/byte_order.h"
#include "core/checked_size.h"
#include "core/mapped_file.h"
#include "core/path_buffer.h"

namespace {

// Text values longer than this are not parsed.
const size_t text_buffer_size = 1024;

inline bool is_upper(uint8_t c) { return c >= 'A' && c <= 'Z'; }

// Parses a text value with a scanf format of `n` doubles; only finite values are kept.
void parse_doubles(const char* text, const char* format, double* out, int n)
{
    double v[6];
    int got = 0;
    switch (n) {
    case 1: got = std::sscanf(text, format, &v[0]); break;
    case 2: got = std::sscanf(text, format, &v[0], &v[1]); break;
    case 3: got = std::sscanf(text, format, &v[0], &v[1], &v[2]); break;
    case 6: got = std::sscanf(text, format, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]); break;
    }
    for (int i = 0; i < got && i < n; i++)
        if (std::isfinite(v[i])) out[i] = v[i];
}

// A text value without its padding spaces.
std::string trimmed(const char* text)
{
    std::string s(text);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}

}  // namespace

// Value representations whose explicit form has two reserved bytes and a 32-bit length.
bool long_length_vr(uint8_t a, uint8_t b)
{
    static const char* const vrs[] = {"OB", "OW", "SQ", "UN", "UT", "OF", "OD", "OL", "OV",
                                      "SV", "UV", "UC", "UR"};
    for (const char* v : vrs)
        if (a == (uint8_t)v[0] && b == (uint8_t)v[1]) return true;
    return false;
}

// Skips an undefined-length value. A sequence is stepped over item by item, entering
// undefined-length items element by element, so that a sequence nested in an item (an
// icon's thumbnail behind a referenced-image sequence) ends where it does and none of the
// item's elements is taken for the data set's own. A value that is not made of items is
// scanned in 16-bit words for a sequence delimitation item with zero length (FFFE, E0DD,
// 0000, 0000).
bool dicom_header_walk::skip_undefined_length()
{
    const size_t start = pos_;
    if (skip_items(0)) return true;
    pos_ = start;
    const uint8_t a = big_endian ? 0xFF : 0xFE, b = big_endian ? 0xFE : 0xFF;
    const uint8_t c = big_endian ? 0xE0 : 0xDD, e = big_endian ? 0xDD : 0xE0;
    while (size - pos_ >= 8) {
        const uint8_t* p = data + pos_;
        if (p[0] == a && p[1] == b && p[2] == c && p[3] == e && le32(p + 4) == 0) {
            pos_ += 8;
            return true;
        }
        pos_ += 2;
    }
    pos_ = size;
    return false;
}

// The items of an undefined-length value up to and past its delimiter; false (position
// undefined) when the bytes are not items or nest deeper than any real file.
bool dicom_header_walk::skip_items(int depth)
{
    if (depth > 32) return false;
    uint16_t group, element;
    uint32_t length;
    for (;;) {
        if (!read_element_header(group, element, length) || group != 0xFFFE) return false;
        if (element == 0xE0DD) return true;
        if (element != 0xE000) return false;
        if (length != 0xFFFFFFFFu) {
            if (length > size - pos_) return false;
            pos_ += length;
            continue;
        }
        for (;;) {
            if (!read_element_header(group, element, length)) return false;
            if (group == 0xFFFE && element == 0xE00D) break;
            if (length == 0xFFFFFFFFu) {
                if (!skip_items(depth + 1)) return false;
            } else {
                if (length > size - pos_) return false;
                pos_ += length;
            }
        }
    }
}

void dicom_header_walk::act_on(uint16_t group, uint16_t element, const uint8_t* value, uint32_t length)
{
    const uint32_t tag = (uint32_t)group << 16 | element;
    auto u16 = [&](uint16_t& field) {
        if (length >= 2) field = big_endian ? be16(value) : le16(value);
    };
    char text[text_buffer_size];
    auto read_text = [&]() {
        if (length >= text_buffer_size) return false;
        std::memcpy(text, value, length);
        text[length] = '\0';
        return true;
    };
    switch (tag) {
    case 0x00020010:
        ts_seen_ = true;
        if (read_text()) transfer_syntax = trimmed(text);
        if (length == 20 && value[18] == '2') big_endian = true;
        if (length == 18) explicit_vr_ = false;
        break;
    // The identities the data-set writer replaces; reading does not need them.
    case 0x00020003: case 0x00080018: case 0x0020000E: {
        dicom_value_span& span = tag == 0x00020003 ? media_instance_uid
                                 : tag == 0x00080018 ? instance_uid
                                                     : series_uid;
        if (span.length == 0) span = {(size_t)(value - data), length};
        break;
    }
    case 0x00180050:
        if (read_text()) parse_doubles(text, "%lf", &h.slice_thickness, 1);
        break;
    case 0x00181100:
        if (read_text()) parse_doubles(text, "%lf", &h.reconstruction_diameter, 1);
        break;
    case 0x00186056: case 0x00186058: case 0x0018605A:
        read_text();  // ultrasound break-point tables: read, not used
        break;
    case 0x00200032:
        if (read_text()) parse_doubles(text, "%lf\\%lf\\%lf", h.position, 3);
        break;
    case 0x00200037:
        if (read_text()) {
            double o[6];
            if (std::sscanf(text, "%lf\\%lf\\%lf\\%lf\\%lf\\%lf", &o[0], &o[1], &o[2], &o[3],
                            &o[4], &o[5]) == 6 &&
                std::all_of(o, o + 6, [](double v) { return std::isfinite(v); })) {
                std::copy(o, o + 6, h.orientation);
                h.orientation_set = true;
            }
        }
        break;
    case 0x00201041:
        if (read_text()) parse_doubles(text, "%lf", &h.slice_location, 1);
        break;
    case 0x00280002: u16(h.samples); break;
    case 0x00280004:  // photometric interpretation
        if (read_text()) {
            h.monochrome1 = std::strncmp(text, "MONOCHROME1", 11) == 0;
            const std::string p = trimmed(text);
            h.ybr = p == "YBR_FULL" || p == "YBR_FULL_422";
            h.ybr_422 = p == "YBR_FULL_422";
            h.palette = p == "PALETTE COLOR";
        }
        break;
    // The palette's three descriptors (entries, first mapped value, bits per entry) and tables.
    case 0x00281101: case 0x00281102: case 0x00281103:
        if (length >= 6) {
            dicom_palette_lut& t = palette[element - 0x1101];
            t.entries = big_endian ? be16(value) : le16(value);
            t.first = big_endian ? be16(value + 2) : le16(value + 2);
            t.bits = big_endian ? be16(value + 4) : le16(value + 4);
        }
        break;
    case 0x00281201: case 0x00281202: case 0x00281203: {
        dicom_palette_lut& t = palette[element - 0x1201];
        t.data = value;
        t.length = length;
        break;
    }
    case 0x00280006: u16(h.planar_configuration); break;
    case 0x00280008:
        if (read_text()) {
            int n;
            // Decimal only: an IS value of "010" is ten frames.
            if (std::sscanf(text, "%d", &n) == 1) {
                h.number_of_frames = n;
                if (index == -1 && n >= 2) multi_frame = true;
            }
        }
        break;
    case 0x00280010: u16(h.rows); break;
    case 0x00280011: u16(h.columns); break;
    case 0x00280012: u16(h.planes); break;
    case 0x00280030:
        if (read_text()) parse_doubles(text, "%lf\\%lf", h.pixel_spacing, 2);
        break;
    case 0x00280100:
        u16(h.bits_allocated);
        h.bits_stored = h.bits_allocated;
        break;
    case 0x00280101: u16(h.bits_stored); break;
    case 0x00280102: u16(h.high_bit); break;
    case 0x00280103: u16(h.pixel_representation); break;
    case 0x00280120: u16(h.padding_value); break;
    case 0x00281050:
        if (read_text()) parse_doubles(text, "%lf", &h.window_centre, 1);
        break;
    case 0x00281051:
        if (read_text()) parse_doubles(text, "%lf", &h.window_width, 1);
        break;
    case 0x00281052:
        if (read_text()) parse_doubles(text, "%lf", &h.rescale_intercept, 1);
        break;
    case 0x00281053:
        if (read_text()) parse_doubles(text, "%lf", &h.rescale_slope, 1);
        break;
    default:
        break;
    }
}

// Walks elements until (7FE0,0010). False when the file ends first.
// Reads the tag and length of the element at the position and moves past them. Item and
// delimiter tags (group FFFE) carry no VR in either encoding.
bool dicom_header_walk::read_element_header(uint16_t& group, uint16_t& element, uint32_t& length)
{
    if (size - pos_ < 8) return false;
    const uint8_t* p = data + pos_;
    group = le16(p);
    element = le16(p + 2);
    const bool meta = group == 0x0002;
    const bool big = big_endian && !meta;
    if (big) {
        group = be16(p);
        element = be16(p + 2);
    }
    bool is_explicit;
    if (meta)
        is_explicit = true;
    else if (group == 0xFFFE)
        is_explicit = false;
    else if (!ts_seen_)
        is_explicit = is_upper(p[4]) && is_upper(p[5]);
    else
        is_explicit = explicit_vr_;
    size_t header = 8;
    if (is_explicit) {
        if (long_length_vr(p[4], p[5])) {
            if (size - pos_ < 12) return false;
            length = big ? be32(p + 8) : le32(p + 8);
            header = 12;
        } else {
            length = big ? be16(p + 6) : le16(p + 6);
        }
    } else {
        length = big ? be32(p + 4) : le32(p + 4);
    }
    pos_ += header;
    return true;
}

bool dicom_header_walk::walk_to_pixel_data(uint32_t& length, bool& undefined)
{
    for (;;) {
        uint16_t group, element;
        if (!read_element_header(group, element, length)) return false;
        undefined = length == 0xFFFFFFFFu || length == 0xFFFFu;
        if (group == 0x7FE0 && element == 0x0010) return true;
        if (undefined) {
            if (!skip_undefined_length()) return false;
            continue;
        }
        if (length > size - pos_) return false;
        act_on(group, element, data + pos_, length);
        pos_ += length;
    }
}

bool dicom_header_walk::run()
{
    // Preamble and prefix, or a bare data set from byte 0.
    if (size >= 132 && std::memcmp(data + 128, "DICM", 4) == 0) {
        pos_ = 132;
        has_prefix_ = true;
    }
    if (!walk_to_pixel_data(pixel_length, encapsulated)) {
        warn(wxString::Format("The DICOM file %s ends before its pixel data.", file_text()));
        return false;
    }
    pixel_pos = pos_;
    if (h.rows == 0 || h.columns == 0 || (h.samples != 1 && h.samples != 3) ||
        (h.bits_allocated != 1 && h.bits_allocated != 8 && h.bits_allocated != 16 &&
         h.bits_allocated != 32) ||
        (h.samples != 1 && h.bits_allocated != 8 && h.bits_allocated != 16) ||
        !mad3_sizes_valid(h.rows, h.columns, h.samples, 0)) {
        warn(wxString::Format("The DICOM file %s has an image format Voxmira does not read "
                              "(%i x %i pixels, %i samples per pixel, %i bits allocated).",
                              file_text(), h.columns, h.rows, h.samples, h.bits_allocated));
        return false;
    }
    return true;
}

wxString dicom_header_walk::file_text() const { return path_text(name); }

namespace {

enum class inflate_result { not_deflated, inflated, failed };

// A file of the Deflated Explicit VR Little Endian transfer syntax: its file meta, then the
// rest inflated (raw deflate), into `out`. The inflated size is bounded (at most 1 GB and
// 1024 times the compressed size) so that a hostile stream cannot exhaust memory.
inflate_result inflate_data_set(const uint8_t* d, size_t size, std::vector<uint8_t>& out)
{
    if (size < 132 || std::memcmp(d + 128, "DICM", 4) != 0) return inflate_result::not_deflated;
    static const char deflated_uid[] = "1.2.840.10008.1.2.1.99";
    size_t pos = 132;
    bool deflated = false;
    // The file meta: explicit VR little endian elements of group 0002.
    while (size - pos >= 8 && le16(d + pos) == 0x0002) {
        const uint16_t element = le16(d + pos + 2);
        size_t header = 8, length;
        if (long_length_vr(d[pos + 4], d[pos + 5])) {
            if (size - pos < 12) return inflate_result::not_deflated;
            length = le32(d + pos + 8);
            header = 12;
        } else {
            length = le16(d + pos + 6);
        }
        if (length > size - pos - header) return inflate_result::not_deflated;
        if (element == 0x0010 && length >= sizeof deflated_uid - 1 &&
            std::memcmp(d + pos + header, deflated_uid, sizeof deflated_uid - 1) == 0 &&
            (length == sizeof deflated_uid - 1 || d[pos + header + sizeof deflated_uid - 1] == 0))
            deflated = true;
        pos += header + length;
    }
    if (!deflated) return inflate_result::not_deflated;
    const uint64_t limit = std::min<uint64_t>(1ull << 30, (uint64_t)(size - pos) * 1024 + (1 << 20));
    out.assign(d, d + pos);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return inflate_result::failed;
    z.next_in = const_cast<Bytef*>(d + pos);
    z.avail_in = (uInt)std::min<size_t>(size - pos, UINT_MAX);
    int status = Z_OK;
    std::vector<uint8_t> chunk(1 << 16);
    while (status == Z_OK) {
        z.next_out = chunk.data();
        z.avail_out = (uInt)chunk.size();
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
        if (out.size() > limit) {
            status = Z_MEM_ERROR;
            break;
        }
        if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // input ended early
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? inflate_result::inflated : inflate_result::failed;
}

}  // namespace

bool walk_dicom_file(const std::string& name, int index, const std::function<bool(dicom_header_walk&)>& use)
{
    mapped_file file(name);
    if (!file.opened()) return false;
    if (!file.data()) return false;  // empty, or not a plain file
    std::vector<uint8_t> inflated;
    switch (inflate_data_set(file.data(), file.size(), inflated)) {
    case inflate_result::not_deflated: break;
    case inflate_result::inflated: {
        dicom_header_walk walk(inflated.data(), inflated.size(), name, index, true);
        return walk.run() && use(walk);
    }
    case inflate_result::failed:
        wxLogWarning("The DICOM file %s is deflated, but its data cannot be inflated: the file is "
                     "damaged or truncated.", path_text(name));
        return false;
    }
    dicom_header_walk walk(file.data(), file.size(), name, index, false);
    return walk.run() && use(walk);
}
