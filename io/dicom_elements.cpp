#include "io/dicom_elements.h"

#include <cstdio>
#include <cstring>

#include "core/byte_order.h"
#include "core/mapped_file.h"

namespace {

struct dictionary_entry {
    uint16_t group, element;
    const char* vr;
    const char* name;
};

// The elements people look for first; others are listed by tag alone.
const dictionary_entry dictionary[] = {
    {0x0002, 0x0000, "UL", "File Meta Information Group Length"},
    {0x0002, 0x0001, "OB", "File Meta Information Version"},
    {0x0002, 0x0002, "UI", "Media Storage SOP Class UID"},
    {0x0002, 0x0003, "UI", "Media Storage SOP Instance UID"},
    {0x0002, 0x0010, "UI", "Transfer Syntax UID"},
    {0x0002, 0x0012, "UI", "Implementation Class UID"},
    {0x0002, 0x0013, "SH", "Implementation Version Name"},
    {0x0008, 0x0005, "CS", "Specific Character Set"},
    {0x0008, 0x0008, "CS", "Image Type"},
    {0x0008, 0x0016, "UI", "SOP Class UID"},
    {0x0008, 0x0018, "UI", "SOP Instance UID"},
    {0x0008, 0x0020, "DA", "Study Date"},
    {0x0008, 0x0021, "DA", "Series Date"},
    {0x0008, 0x0022, "DA", "Acquisition Date"},
    {0x0008, 0x0023, "DA", "Content Date"},
    {0x0008, 0x0030, "TM", "Study Time"},
    {0x0008, 0x0031, "TM", "Series Time"},
    {0x0008, 0x0032, "TM", "Acquisition Time"},
    {0x0008, 0x0033, "TM", "Content Time"},
    {0x0008, 0x0050, "SH", "Accession Number"},
    {0x0008, 0x0060, "CS", "Modality"},
    {0x0008, 0x0070, "LO", "Manufacturer"},
    {0x0008, 0x0080, "LO", "Institution Name"},
    {0x0008, 0x0090, "PN", "Referring Physician's Name"},
    {0x0008, 0x1030, "LO", "Study Description"},
    {0x0008, 0x103E, "LO", "Series Description"},
    {0x0008, 0x1090, "LO", "Manufacturer's Model Name"},
    {0x0008, 0x2111, "ST", "Derivation Description"},
    {0x0010, 0x0010, "PN", "Patient's Name"},
    {0x0010, 0x0020, "LO", "Patient ID"},
    {0x0010, 0x0030, "DA", "Patient's Birth Date"},
    {0x0010, 0x0040, "CS", "Patient's Sex"},
    {0x0010, 0x1010, "AS", "Patient's Age"},
    {0x0018, 0x0015, "CS", "Body Part Examined"},
    {0x0018, 0x0050, "DS", "Slice Thickness"},
    {0x0018, 0x0060, "DS", "KVP"},
    {0x0018, 0x0088, "DS", "Spacing Between Slices"},
    {0x0018, 0x1020, "LO", "Software Versions"},
    {0x0018, 0x1100, "DS", "Reconstruction Diameter"},
    {0x0018, 0x1150, "IS", "Exposure Time"},
    {0x0018, 0x1151, "IS", "X-Ray Tube Current"},
    {0x0018, 0x1210, "SH", "Convolution Kernel"},
    {0x0018, 0x5100, "CS", "Patient Position"},
    {0x0020, 0x000D, "UI", "Study Instance UID"},
    {0x0020, 0x000E, "UI", "Series Instance UID"},
    {0x0020, 0x0010, "SH", "Study ID"},
    {0x0020, 0x0011, "IS", "Series Number"},
    {0x0020, 0x0012, "IS", "Acquisition Number"},
    {0x0020, 0x0013, "IS", "Instance Number"},
    {0x0020, 0x0032, "DS", "Image Position (Patient)"},
    {0x0020, 0x0037, "DS", "Image Orientation (Patient)"},
    {0x0020, 0x0052, "UI", "Frame of Reference UID"},
    {0x0020, 0x1041, "DS", "Slice Location"},
    {0x0028, 0x0002, "US", "Samples per Pixel"},
    {0x0028, 0x0004, "CS", "Photometric Interpretation"},
    {0x0028, 0x0006, "US", "Planar Configuration"},
    {0x0028, 0x0008, "IS", "Number of Frames"},
    {0x0028, 0x0010, "US", "Rows"},
    {0x0028, 0x0011, "US", "Columns"},
    {0x0028, 0x0030, "DS", "Pixel Spacing"},
    {0x0028, 0x0100, "US", "Bits Allocated"},
    {0x0028, 0x0101, "US", "Bits Stored"},
    {0x0028, 0x0102, "US", "High Bit"},
    {0x0028, 0x0103, "US", "Pixel Representation"},
    {0x0028, 0x0106, "US", "Smallest Image Pixel Value"},
    {0x0028, 0x0107, "US", "Largest Image Pixel Value"},
    {0x0028, 0x0120, "US", "Pixel Padding Value"},
    {0x0028, 0x1050, "DS", "Window Center"},
    {0x0028, 0x1051, "DS", "Window Width"},
    {0x0028, 0x1052, "DS", "Rescale Intercept"},
    {0x0028, 0x1053, "DS", "Rescale Slope"},
    {0x0028, 0x1054, "LO", "Rescale Type"},
    {0x0028, 0x1101, "US", "Red Palette Color Lookup Table Descriptor"},
    {0x0028, 0x1102, "US", "Green Palette Color Lookup Table Descriptor"},
    {0x0028, 0x1103, "US", "Blue Palette Color Lookup Table Descriptor"},
    {0x0028, 0x1201, "OW", "Red Palette Color Lookup Table Data"},
    {0x0028, 0x1202, "OW", "Green Palette Color Lookup Table Data"},
    {0x0028, 0x1203, "OW", "Blue Palette Color Lookup Table Data"},
    {0x0028, 0x2110, "CS", "Lossy Image Compression"},
    {0x0088, 0x0200, "SQ", "Icon Image Sequence"},
    {0x7FE0, 0x0010, "OW", "Pixel Data"},
    {0xFFFE, 0xE000, "", "Item"},
};

const dictionary_entry* find_entry(uint16_t g, uint16_t e)
{
    for (const dictionary_entry& d : dictionary)
        if (d.group == g && d.element == e) return &d;
    return nullptr;
}

bool long_form(const char* vr)
{
    static const char* const long_vrs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV",
                                           "UC", "UN", "UR", "UT", "UV"};
    for (const char* v : long_vrs)
        if (std::strncmp(v, vr, 2) == 0) return true;
    return false;
}

bool text_vr(const std::string& vr)
{
    static const char* const texts[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT",
                                        "PN", "SH", "ST", "TM", "UC", "UI", "UR", "UT"};
    for (const char* v : texts)
        if (vr == v) return true;
    return false;
}

class lister {
public:
    lister(const uint8_t* d, size_t n, std::vector<dicom_element_row>& rows, size_t limit)
        : d_(d), n_(n), rows_(rows), limit_(limit)
    {
    }

    // Elements from `pos` up to `end` (or an item delimiter when `until_delimiter`).
    bool walk(size_t& pos, size_t end, int depth, bool until_delimiter);
    bool explicit_vr = true, big_endian = false;
    std::string problem;

private:
    uint16_t u16(size_t at) const { return big_endian ? be16(d_ + at) : le16(d_ + at); }
    uint32_t u32(size_t at) const { return big_endian ? be32(d_ + at) : le32(d_ + at); }
    std::string value_text(const std::string& vr, size_t at, uint32_t length) const;
    bool sequence(size_t& pos, uint32_t length, int depth);

    const uint8_t* d_;
    size_t n_;
    std::vector<dicom_element_row>& rows_;
    size_t limit_;
};

std::string lister::value_text(const std::string& vr, size_t at, uint32_t length) const
{
    char buf[64];
    if (text_vr(vr)) {
        std::string s;
        for (uint32_t i = 0; i < length && s.size() < 200; i++) {
            const char c = (char)d_[at + i];
            s += (c >= 32 && c < 127) ? c : (c == 0 ? ' ' : '?');
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        if (length > 200) s += " ...";
        return s;
    }
    auto numbers = [&](int size, auto format) {
        std::string s;
        for (uint32_t i = 0; i + size <= length && i < 16u * size; i += size) {
            if (!s.empty()) s += "\\";
            s += format(at + i);
        }
        if (length > 16u * size) s += "\\...";
        return s;
    };
    if (vr == "US")
        return numbers(2, [&](size_t p) { return std::to_string(u16(p)); });
    if (vr == "SS")
        return numbers(2, [&](size_t p) { return std::to_string((int16_t)u16(p)); });
    if (vr == "UL")
        return numbers(4, [&](size_t p) { return std::to_string(u32(p)); });
    if (vr == "SL")
        return numbers(4, [&](size_t p) { return std::to_string((int32_t)u32(p)); });
    if (vr == "FL")
        return numbers(4, [&](size_t p) {
            const uint32_t w = u32(p);
            float f;
            std::memcpy(&f, &w, 4);
            std::snprintf(buf, sizeof buf, "%g", f);
            return std::string(buf);
        });
    if (vr == "FD")
        return numbers(8, [&](size_t p) {
            const uint64_t w = big_endian ? ((uint64_t)u32(p) << 32) | u32(p + 4)
                                          : ((uint64_t)u32(p + 4) << 32) | u32(p);
            double f;
            std::memcpy(&f, &w, 8);
            std::snprintf(buf, sizeof buf, "%g", f);
            return std::string(buf);
        });
    if (vr == "AT")
        return numbers(4, [&](size_t p) {
            std::snprintf(buf, sizeof buf, "(%04X,%04X)", u16(p), u16(p + 2));
            return std::string(buf);
        });
    std::snprintf(buf, sizeof buf, "(%u bytes)", length);
    return buf;
}

bool lister::sequence(size_t& pos, uint32_t length, int depth)
{
    const bool undefined = length == 0xFFFFFFFF;
    const size_t end = undefined ? n_ : pos + length;
    while (pos + 8 <= end) {
        const uint16_t g = u16(pos), e = u16(pos + 2);
        const uint32_t item = u32(pos + 4);
        pos += 8;
        if (g == 0xFFFE && e == 0xE0DD) return true;  // end of an undefined-length sequence
        if (g != 0xFFFE || e != 0xE000) {
            problem = "a sequence holds something other than items";
            return false;
        }
        if (rows_.size() >= limit_) return false;
        rows_.push_back({0xFFFE, 0xE000, "", depth, ""});
        if (item == 0xFFFFFFFF) {
            if (!walk(pos, end, depth + 1, true)) return false;
        } else {
            if (item > end - pos) {
                problem = "an item runs past the end of its sequence";
                return false;
            }
            size_t inner = pos;
            if (!walk(inner, pos + item, depth + 1, false)) return false;
            pos += item;
        }
    }
    if (undefined) {
        problem = "a sequence has no end";
        return false;
    }
    pos = end;
    return true;
}

bool lister::walk(size_t& pos, size_t end, int depth, bool until_delimiter)
{
    if (depth > 16) {
        problem = "sequences nest too deeply";
        return false;
    }
    while (pos < end) {
        if (end - pos < 8) {
            problem = "the file ends inside an element";
            return false;
        }
        const uint16_t g = u16(pos), e = u16(pos + 2);
        if (g == 0xFFFE && e == 0xE00D) {  // end of an undefined-length item
            pos += 8;
            if (until_delimiter) return true;
            continue;
        }
        std::string vr;
        uint32_t length;
        size_t header = 8;
        const bool vr_here = explicit_vr && g != 0xFFFE;
        if (vr_here && d_[pos + 4] >= 'A' && d_[pos + 4] <= 'Z' && d_[pos + 5] >= 'A' && d_[pos + 5] <= 'Z') {
            vr.assign((const char*)d_ + pos + 4, 2);
            if (long_form(vr.c_str())) {
                if (end - pos < 12) {
                    problem = "the file ends inside an element";
                    return false;
                }
                length = u32(pos + 8);
                header = 12;
            } else {
                length = u16(pos + 6);
            }
        } else {
            length = u32(pos + 4);
            const dictionary_entry* d = find_entry(g, e);
            vr = d ? d->vr : "";
            if (g == 0xFFFE) vr = "";
        }
        pos += header;
        if (rows_.size() >= limit_) {
            problem = "the list stops here (too many elements)";
            return false;
        }
        dicom_element_row row{g, e, vr, depth, ""};
        if (length == 0xFFFFFFFF) {
            if (g == 0x7FE0 && e == 0x0010) {
                // Encapsulated pixel data: its fragments are counted, not listed.
                int fragments = 0;
                while (end - pos >= 8 && !(u16(pos) == 0xFFFE && u16(pos + 2) == 0xE0DD)) {
                    const uint32_t f = u32(pos + 4);
                    if (f > end - pos - 8) break;
                    pos += 8 + (size_t)f;
                    fragments++;
                }
                pos = end - pos >= 8 ? pos + 8 : end;
                row.value = "(compressed, " + std::to_string(fragments > 0 ? fragments - 1 : 0) + " fragments)";
                rows_.push_back(row);
                continue;
            }
            row.value = "(sequence)";
            rows_.push_back(row);
            if (!sequence(pos, length, depth + 1)) return false;
            continue;
        }
        if (length > end - pos) {
            problem = "an element runs past the end of the file";
            return false;
        }
        if (vr == "SQ") {
            row.value = "(sequence)";
            rows_.push_back(row);
            size_t inner = pos;
            if (!sequence(inner, length, depth + 1)) return false;
            pos += length;
            continue;
        }
        row.value = value_text(vr, pos, length);
        rows_.push_back(row);
        pos += length;
    }
    return true;
}

}  // namespace

const char* dicom_element_name(uint16_t group, uint16_t element)
{
    const dictionary_entry* d = find_entry(group, element);
    if (d) return d->name;
    if (element == 0x0000) return "Group Length";
    return "";
}

bool list_dicom_elements(const std::string& path, std::vector<dicom_element_row>& rows,
                         std::string& why, size_t limit)
{
    rows.clear();
    mapped_file file(path);
    if (!file.data()) {
        why = "the file cannot be read";
        return false;
    }
    const uint8_t* d = file.data();
    const size_t n = file.size();
    size_t pos = 0;
    const bool prefix = n >= 132 && std::memcmp(d + 128, "DICM", 4) == 0;
    if (prefix) pos = 132;
    lister list(d, n, rows, limit);
    // The meta group is explicit little endian; it names the transfer syntax of the rest.
    std::string syntax;
    size_t meta_end = pos;
    while (meta_end + 8 <= n && le16(d + meta_end) == 0x0002) {
        const size_t at = meta_end;
        const bool long_vr = long_form((const char*)d + at + 4);
        const size_t header = long_vr ? 12 : 8;
        if (at + header > n) break;
        const uint32_t length = long_vr ? le32(d + at + 8) : le16(d + at + 6);
        if (length > n - at - header) break;
        if (le16(d + at + 2) == 0x0010)
            syntax.assign((const char*)d + at + header, length);
        meta_end = at + header + length;
    }
    while (!syntax.empty() && (syntax.back() == 0 || syntax.back() == ' ')) syntax.pop_back();
    if (!prefix && meta_end == pos) {
        // A bare data set: explicit if the first element carries a VR.
        if (n < 8 || le16(d) > 0x0100) {
            why = "the file is not DICOM";
            return false;
        }
        list.explicit_vr = d[4] >= 'A' && d[4] <= 'Z' && d[5] >= 'A' && d[5] <= 'Z';
    }
    bool ok = list.walk(pos, meta_end, 0, false);
    if (ok && meta_end < n) {
        if (syntax == "1.2.840.10008.1.2.1.99") {
            rows.push_back({0, 0, "", 0, "(the data set is deflated and not listed)"});
            return true;
        }
        if (!syntax.empty()) {
            list.explicit_vr = syntax != "1.2.840.10008.1.2";
            list.big_endian = syntax == "1.2.840.10008.1.2.2";
        }
        ok = list.walk(pos, n, 0, false);
    }
    if (!ok) rows.push_back({0, 0, "", 0, "(not listed further: " + list.problem + ")"});
    if (rows.empty()) {
        why = "the file is not DICOM";
        return false;
    }
    return true;
}
