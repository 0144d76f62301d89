// Compressed DICOM pixel data: the chain of decoders that turns the first fragment of a
// frame into samples the reader can convert. The encoding is recognised from the
// fragment's first bytes and the sample format, never from the transfer syntax.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <string>
#include <vector>

// The working header of one DICOM read, filled while walking the elements.
struct dicom_header_t {
    uint16_t samples = 0;
    uint16_t rows = 0;
    uint16_t columns = 0;
    uint16_t bits_allocated = 0;
    uint16_t bits_stored = 0;
    uint16_t high_bit = 0;
    uint16_t pixel_representation = 0;  // 0 unsigned, 1 signed
    uint16_t planes = 0;
    uint16_t planar_configuration = 0;  // 1: colour by plane (R plane, G plane, B plane)
    bool monochrome1 = false;           // grey that shows bright for low values
    // Luminance and chrominance (YBR_FULL) stored; with `ybr_422` the chrominance is
    // shared by each pair of pixels (Y1 Y2 Cb Cr), uncompressed.
    bool ybr = false, ybr_422 = false;
    bool palette = false;  // PALETTE COLOR: one index a pixel into three lookup tables
    uint16_t padding_value = 0;
    int32_t number_of_frames = 1;
    double pixel_spacing[2] = {0.1, 0.1};
    double slice_thickness = 0.1;
    double slice_location = 0.0;
    double rescale_intercept = 0.0;
    double rescale_slope = 1.0;
    double window_centre = 0.0;
    double window_width = 1.0;
    double position[3] = {0, 0, 0};
    double orientation[6] = {1, 0, 0, 0, 1, 0};
    bool orientation_set = false;
    double reconstruction_diameter = 0.0;
};

// What the chain produced; at most one kind.
enum class decoded_kind {
    none,
    bytes8,     // lossless JPEG (bits allocated 8) or 8-bit RLE: samples interleaved
    words16,    // lossless JPEG 16-bit grey or 16-bit RLE: host-order words
    jpeg2000,   // one component of signed integers
    red_bytes,  // grey DCT JPEG: bytes taken unsigned whatever the pixel representation
    words32,    // 32-bit grey RLE: host-order 32-bit words, in `bytes`
};

// Leaves new elements uninitialised on resize: decoders write every sample of a frame they
// accept, and a frame of tens of megabytes need not be zeroed first.
template <typename T>
struct uninitialised_allocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = uninitialised_allocator<U>;
    };
    uninitialised_allocator() = default;
    template <typename U>
    uninitialised_allocator(const uninitialised_allocator<U>&) {}
    template <typename U>
    void construct(U* p) { ::new ((void*)p) U; }
    template <typename U, typename... A>
    void construct(U* p, A&&... a) { ::new ((void*)p) U(std::forward<A>(a)...); }
};

template <typename T>
using sample_vector = std::vector<T, uninitialised_allocator<T>>;

struct decoded_frame {
    decoded_kind kind = decoded_kind::none;
    sample_vector<uint8_t> bytes;   // bytes8, red_bytes
    sample_vector<uint16_t> words;  // words16
    std::vector<int32_t> ints;      // jpeg2000
    std::string refusal;            // why a decoder that recognised its data refused it
    // The decoder turned the stored colour into RGB itself (baseline JPEG's YCbCr, JPEG
    // 2000's component transform); otherwise colour comes back as stored.
    bool rgb = false;
};

// The number of decoded samples the frame holds.
size_t decoded_count(const decoded_frame& f);

// Asks for huge pages over a large buffer about to be written front to back: it saves the
// kernel hundreds of page faults per megabyte, which dominate a big first open.
void advise_huge_pages(void* p, size_t bytes);

// The warning logged when no decoder accepts the data.
extern const char* const dicom_unsupported_compression_text;

// Runs the chain in order: JPEG-LS, lossless JPEG, 12-bit DCT JPEG, 8-bit DCT JPEG (grey
// and colour through libjpeg), RLE (8-bit, and 16-bit with two segments
// per sample), JPEG 2000 codestream.
// `fragment` may be null (no encapsulated data). Returns false, with `out` empty, when
// nothing accepts the data; the caller reports it.
bool decode_compressed_frame(const uint8_t* fragment, size_t length, const dicom_header_t& h,
                             decoded_frame& out);
