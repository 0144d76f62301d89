#include "io/dicom_writer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <wx/log.h>

#include "core/byte_order.h"
#include "core/path_buffer.h"
#include "core/record.h"
#include "io/frame_writer.h"
#include "io/output_file.h"

bool valid_uid(const std::string& uid)
{
    if (uid.empty() || uid.size() > 64) return false;
    size_t start = 0;
    for (;;) {
        const size_t dot = uid.find('.', start);
        const size_t end = dot == std::string::npos ? uid.size() : dot;
        if (end == start) return false;
        for (size_t i = start; i < end; i++)
            if (uid[i] < '0' || uid[i] > '9') return false;
        if (uid[start] == '0' && end - start > 1) return false;
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

std::string new_uid(const std::string& old, uint64_t stamp, unsigned serial)
{
    const size_t n = old.size();
    char tail[48];
    std::snprintf(tail, sizeof tail, "%llu%06u", (unsigned long long)stamp, serial % 1000000u);
    const std::string digits = tail;  // 22 digits for any date of this century
    // The last `count` of those digits (left-filled with 9 beyond them), never starting
    // with 0.
    auto fill = [&](size_t count) {
        std::string s = count <= digits.size() ? digits.substr(digits.size() - count)
                                               : std::string(count - digits.size(), '9') + digits;
        if (!s.empty() && s[0] == '0') s[0] = '1';
        return s;
    };
    // Keep the root: replace the last 22 characters (fewer in a short UID, at least the
    // first character stays), more only when the cut would leave a component starting
    // with 0.
    for (size_t r = std::min(digits.size(), n >= 2 ? n - 2 : 0); r >= 1 && r + 1 <= n; r++) {
        std::string uid = old.substr(0, n - r) + fill(r);
        if (valid_uid(uid) && uid != old) return uid;
        if (old[n - r - 1] != '0') break;
    }
    // A root that is not valid itself gives way to 2.25, the root for UIDs made from numbers.
    if (n < 6) return std::string();
    const std::string uid = "2.25." + fill(n - 5);
    return valid_uid(uid) && uid != old ? uid : std::string();
}

int stored_sample(int v, double slope, double intercept, int lo, int hi)
{
    const double raw = (v / 16.0 - intercept) / slope;
    if (!(raw >= lo)) return lo;  // also NaN
    if (raw > hi) return hi;
    // Halves away from zero, as std::round, without its call.
    return raw >= 0 ? (int)(raw + 0.5) : -(int)(0.5 - raw);
}

namespace {

wxString wx_text(const std::string& s) { return path_text(s); }

// The UID text of a value: its bytes up to the trailing NUL or space padding.
std::string uid_text(const uint8_t* file, const dicom_value_span& span)
{
    std::string s(reinterpret_cast<const char*>(file + span.offset), span.length);
    while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
    return s;
}

bool write_all(int fd, const void* data, size_t bytes, off_t at)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd, p, std::min<size_t>(bytes, 1 << 24), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        at += n;
        bytes -= (size_t)n;
    }
    return true;
}

// The value range the frame's samples may take: the sample type, narrowed to the bits
// stored, widened again to what the source frame itself holds (a file whose samples
// exceed its bits stored keeps its unfiltered values).
void sample_range(const dicom_frame_layout& l, const uint8_t* samples, size_t count, int& lo,
                  int& hi)
{
    const int bits = l.bits_allocated;
    const int stored = l.bits_stored >= 1 && l.bits_stored < bits ? l.bits_stored : bits;
    lo = l.is_signed ? -(1 << (stored - 1)) : 0;
    hi = l.is_signed ? (1 << (stored - 1)) - 1 : (1 << stored) - 1;
    for (size_t i = 0; i < count; i++) {
        int s;
        if (bits == 8) {
            s = l.is_signed ? (int8_t)samples[i] : samples[i];
        } else {
            const uint16_t w = l.big_endian ? be16(samples + 2 * i) : le16(samples + 2 * i);
            s = l.is_signed ? (int16_t)w : w;
        }
        lo = std::min(lo, s);
        hi = std::max(hi, s);
    }
}

// The frame's samples in the file's format.
std::vector<uint8_t> encode_frame(const dicom_frame_layout& l, const int* values, int lo, int hi)
{
    const size_t count = (size_t)l.columns * l.rows;
    const int bytes = l.bits_allocated / 8;
    std::vector<uint8_t> out(count * bytes);
    for (size_t i = 0; i < count; i++) {
        const int s = stored_sample(values[i], l.slope, l.intercept, lo, hi);
        if (bytes == 1) {
            out[i] = (uint8_t)s;
        } else {
            const uint16_t w = (uint16_t)s;
            out[2 * i] = (uint8_t)(l.big_endian ? w >> 8 : w);
            out[2 * i + 1] = (uint8_t)(l.big_endian ? w : w >> 8);
        }
    }
    return out;
}

// A value rewritten with a new UID of the same text length; the padding stays.
struct uid_patch {
    dicom_value_span span;
    std::string text;
};

// The new identities of a file written for the first time in this run. False, with a
// warning, when a UID cannot be replaced by a valid one of its length.
bool new_identities(data_set_run& run, const std::string& source, const uint8_t* file, const dicom_frame_layout& l,
                    std::vector<uid_patch>& patches)
{
    auto refuse = [&](const std::string& uid) {
        wxLogWarning("The UID \"%s\" of %s is too short to be replaced by a new UID: the "
                     "file is not written.", wx_text(uid), wx_text(source));
        return false;
    };
    std::string instance_old, instance_new;
    if (l.instance_uid.length) {
        instance_old = uid_text(file, l.instance_uid);
        instance_new = new_uid(instance_old, run.stamp, ++run.serial);
        if (instance_new.empty()) return refuse(instance_old);
        patches.push_back({l.instance_uid, instance_new});
    }
    if (l.series_uid.length) {
        const std::string old = uid_text(file, l.series_uid);
        auto found = run.series.find(old);
        std::string fresh = found != run.series.end() ? found->second
                                                      : new_uid(old, run.stamp, ++run.serial);
        if (fresh.empty()) return refuse(old);
        run.series[old] = fresh;
        patches.push_back({l.series_uid, fresh});
    }
    if (l.media_instance_uid.length) {
        // The file meta names the instance the file holds.
        const std::string old = uid_text(file, l.media_instance_uid);
        const size_t room = l.media_instance_uid.length;
        std::string fresh;
        if (!instance_new.empty() && (room == instance_new.size() || room == instance_new.size() + 1))
            fresh = instance_new;
        else
            fresh = new_uid(old, run.stamp, ++run.serial);
        if (fresh.empty()) return refuse(old);
        // Its own padding when the texts differ in length.
        if (fresh.size() != old.size()) fresh.resize(room, '\0');
        patches.push_back({l.media_instance_uid, fresh});
    }
    return true;
}

}  // namespace

bool write_dicom_frame(data_set_run& run, const std::string& source, const uint8_t* file, size_t file_size,
                       const dicom_frame_layout& l)
{
    const std::string target = dicom_output_path(source, false);
    auto fail = [&](const wxString& text) {
        wxLogWarning("%s", text);
        run.note_run_failed();
        return false;
    };
    if (target.empty()) return fail("Not writing " + wx_text(source) + " over itself.");
    const int* values = info.metal_iteration < 0 ? info.processed_image : info.sampled_image;
    const size_t count = (size_t)l.columns * l.rows;
    const int bytes = l.bits_allocated / 8;
    if (!values || info.proc_width != l.columns || info.proc_height != l.rows ||
        (bytes != 1 && bytes != 2) || l.pixel_offset > file_size ||
        count * bytes > file_size - l.pixel_offset)
        return fail("There is no processed image of the size of " + wx_text(source) + " to write.");
    if (refuse_overwriting_source(target, source) || !make_output_folder(target)) {
        run.note_run_failed();
        return false;
    }
    int lo, hi;
    sample_range(l, file + l.pixel_offset, count, lo, hi);
    const std::vector<uint8_t> samples = encode_frame(l, values, lo, hi);

    const bool first = run.made.count(target) == 0;
    // A multi-frame copy with frames left unprocessed is removed.
    auto removed = [&](int why) {
        ::unlink(target.c_str());
        run.forget_file(target);
        return fail(wxString::Format("Could not write %s: %s. The file was removed.", wx_text(target),
                                     std::strerror(why ? why : EIO)));
    };
    if (first) {
        // The copy is made under a temporary name and takes the output's name only when
        // it is whole.
        output_file out;
        std::vector<uid_patch> patches;
        if (!out.open(target, source) || !new_identities(run, source, file, l, patches)) {
            run.note_run_failed();
            return false;
        }
        out.write(file, file_size);
        for (const uid_patch& p : patches) out.write_at(p.text.data(), p.text.size(), (off_t)p.span.offset);
        out.write_at(samples.data(), samples.size(), (off_t)l.pixel_offset);
        if (!out.commit()) {
            run.forget_file(target);
            run.note_run_failed();
            return false;
        }
    } else {
        // A later frame of a multi-frame file goes into the copy this run made.
        const int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return removed(errno);
        bool ok = write_all(fd, samples.data(), samples.size(), (off_t)l.pixel_offset) && ::fsync(fd) == 0;
        const int error = ok ? 0 : errno;
        ok = (::close(fd) == 0) && ok;
        if (!ok) {
            return removed(error ? error : errno);
        }
    }
    run.made.insert(target);
    run.note_file_written(target);
    return true;
}
