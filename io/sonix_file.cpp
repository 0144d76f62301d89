#include "io/sonix_file.h"

#include <memory>
#include <vector>
#include <wx/log.h>

#include "core/record.h"
#include "core/checked_size.h"
#include "io/vendor_file.h"
#include "processing/colour.h"

bool load_sonix_file(char* path, int index)
{
    vendor_file file(path);
    unsigned char header[76];
    if (!file.ok() || !file.read_at(0, header, sizeof header)) return false;
    const int32_t count = le32(header + 4), d1 = le32(header + 8), d2 = le32(header + 12);
    const int32_t bits = le32(header + 16), frequency = le32(header + 60);
    if ((bits != 8 && bits != 16 && bits != 32) || count < 1 || d1 < 1 || d2 < 1) return false;
    const int bytes_per_sample = bits / 8;
    if (!image_fits(d1, d2, 1, bytes_per_sample, 0, file.size())) {
        wxLogWarning("%s: an ultrasound frame of %i x %i samples does not fit in the file.",
                     path, d1, d2);
        return false;
    }
    const int64_t frame_bytes = (int64_t)d1 * d2 * bytes_per_sample;
    const int64_t body = file.size() - 76;

    // Frame tags: a file with a tag before every frame still has data at
    // (frame bytes + 4) x frames - 4 bytes after the header; one without has ended.
    int file_type = info.file_type;
    if (index == -1) {
        const int64_t probe = (frame_bytes + 4) * (int64_t)count - 4;
        file_type = probe < body ? FILE_SONIX_TAGGED : FILE_SONIX;
    } else if (!is_sonix_type(file_type)) {
        return false;
    }
    const int64_t stride = frame_bytes + (file_type == FILE_SONIX_TAGGED ? 4 : 0);
    // Frames wholly present in the file; a truncated file offers only those.
    const int64_t present = body / stride;
    int frames = count;
    if (present < count) {
        if (present < 1) {
            wxLogWarning("%s: the ultrasound file holds no complete frame.", path);
            return false;
        }
        if (index == -1)
            wxLogWarning("%s: the file holds %lli of the %i frames its header lists.", path,
                         (long long)present, count);
        frames = (int)present;
    }
    const int frame = index == -1 ? 1 : index;
    if (frame < 1 || frame > frames) {
        wxLogWarning("%s: there is no frame %i (frames 1 to %i).", path, frame, frames);
        return false;
    }

    const bool rf = bits == 16;
    const int w = rf ? d2 : d1, h = rf ? d1 : d2;
    const int channels = bits == 32 ? 3 : 1;
    std::unique_ptr<int[]> raw(new_samples_checked(w, h, channels));
    if (!raw) return false;
    std::vector<unsigned char> data((size_t)frame_bytes);
    const int64_t offset = 76 + (int64_t)(frame - 1) * stride + (file_type == FILE_SONIX_TAGGED ? 4 : 0);
    if (!file.read_at(offset, data.data(), data.size())) {
        wxLogWarning("%s: frame %i is cut short.", path, frame);
        return false;
    }
    int lo = 100000, hi = -100000;
    const size_t n = (size_t)w * h;
    for (size_t i = 0; i < n; i++) {
        if (bits == 32) {
            const unsigned char* p = data.data() + 4 * i;
            const int rgb[3] = {p[2], p[1], p[0]};
            for (int k = 0; k < 3; k++) {
                raw[3 * i + k] = rgb[k] * 16;
                lo = rgb[k] < lo ? rgb[k] : lo;
                hi = rgb[k] > hi ? rgb[k] : hi;
            }
        } else {
            const int v = bits == 8 ? data[i] : (int16_t)le16(data.data() + 2 * i);
            raw[i] = v * 16;
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
    }

    if (index == -1) {
        info.data_colour = channels == 3 ? COLOUR_RGB : COLOUR_GREY;
        info.channels = channels;
        info.width = w;
        info.height = h;
        if (rf) {
            info.sonix_mode = frequency == 40000000 ? 2 : 1;
            info.pixel_height = 0.234;
            // Sound travels 1540 m/s; a sample covers half the distance of its period.
            info.pixel_width = frequency > 0 ? 1.54e6 / (2.0 * frequency) : 0.1;
        } else {
            info.sonix_mode = 0;
            info.pixel_width = info.pixel_height = 0.1;
        }
        info.frames = frames;
        info.first_frame = 1;
        info.file_type = file_type;
    } else if (w != info.width || h != info.height || channels != (info.data_colour ? info.channels : 1)) {
        return false;
    }
    info.frame = frame;
    install_raw_frame(raw.release(), lo, hi);
    return true;
}
