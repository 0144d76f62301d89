// The projection line of the metal-artefact correction and of the simulated acquisition:
// where the line lies, how the slice is projected across it, and which samples the metal
// shadows (the trace). The hardening fit is in metal_hardening.h, the correction and its
// back-projection in metal_correction.h.
//
// Everything here is in processed pixels; the slice is the sampled plane / 16 (source
// units); metal is what reaches the threshold. Nothing here reads the record: the
// settings come in as mar_params (ct_params.h), the line as mdt_line.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "ct/ct_params.h"

// Places the line over the w x h slice `processed` and builds its ramp filter, sample
// count and angle count. `fit_metal`: the line covers the metal's bounding box (pixels at or
// above threshold - 1, with the `neighbours` flags when p.neighbours) - the whole image
// diagonal with `whole_image`, else the box's diagonal plus a margin. `keep` (two ends in
// source pixels, or null) keeps that line. Otherwise the line spans the image diagonal.
// False when metal was asked for and none is there, or the kept line has no length.
bool place_mdt_line(const int* processed, int w, int h, const std::vector<uint8_t>& neighbours,
                    const mar_params& p, bool fit_metal, bool whole_image, const vertex2d* keep, mdt_line& line);

// The geometry of one angle of the current line: samples at start + j delta u
// (j = 0 .. L - 1), rays along (-u.y, u.x) in steps of delta; samples within the margins
// are not projected.
struct mdt_angle {
    double sx = 0, sy = 0;  // first sample
    double ux = 1, uy = 0;  // unit direction of the line
    double delta = 1;       // sample and ray-step spacing
    int L = 0;
    int margin0 = 0, margin1 = 0;
};
// Angle i of the line's angles (0 .. angles; the last is the first turned half a turn).
mdt_angle mdt_angle_at(const mdt_line& line, int i);

// What projecting one line records per sample: the projection, the prior's projection,
// and what the rays met.
struct line_samples {
    std::vector<double> p;       // sum of slice values along the ray (metal left out, except in reconstructions)
    std::vector<double> q;       // sum of prior values along the ray (0 without a prior)
    std::vector<double> trace;   // metal-trace weight: sum of metal values / threshold
    std::vector<float> metal;    // points at or above the threshold, times delta (pixels)
    std::vector<float> tissue;   // points above metal_air and below the threshold, times delta
    std::vector<float> plain;    // points inside the image that are not metal (counts)
    std::vector<uint8_t> mark;   // 1: metal of a neighbouring frame lies on the ray
    std::vector<uint8_t> projected;
    void resize(int L);
};

// The planes a pass reads, prepared once per pass so that lines can be projected on any
// thread: the slice and prior as floats, metal flags by the four-neighbour rule.
struct mdt_planes {
    int w = 0, h = 0;
    std::vector<float> slice;   // sampled / 16
    std::vector<float> prior;   // prior / 16, empty without a prior
    std::vector<uint8_t> metal; // 1 where the pixel reaches 16 x threshold
    std::vector<uint8_t> neighbour_metal;  // 1 where a neighbouring frame has metal
    float threshold = 0;        // metal threshold (source units)
    float air = 0;              // air level
    bool count_trace = true;    // false in reconstruction-only runs
};
// The w x h planes `sampled` and `prior` (x 16; prior null for none); `neighbours` (w x h,
// may be empty) marks the neighbouring frames' metal.
void prepare_mdt_planes(mdt_planes& planes, const int* sampled, const int* prior, int w, int h,
                        const std::vector<uint8_t>& neighbours, const mar_params& p);

// Projects the slice across one line. Reads only `planes` and `a` (thread-safe).
void project_line(const mdt_planes& planes, const mdt_angle& a, line_samples& out);

// Adds the simulated detection noise of p.recon.noise dB to every projected sample, drawn
// from `generator`; nothing at 0 dB.
void add_detection_noise(line_samples& s, const mar_params& p, std::mt19937& generator);

// Runs of trace samples, joined across gaps shorter than 2 x (trace_pad[0] +
// trace_pad[1]) and widened by `extend` samples: [first, end) pairs.
std::vector<std::pair<int, int>> trace_segments(const line_samples& s, int extend, const mar_params& p);

// Linear interpolation of v over each segment from the means of the `pad` projected
// samples on either side: out[i] = v[i] - interpolated[i] inside the segments, 0
// elsewhere. A side with no projected sample takes the other side's mean; a segment with
// neither is left at 0.
void interpolate_segments(const std::vector<double>& v, const std::vector<uint8_t>& projected,
                          const std::vector<std::pair<int, int>>& segments, int pad, double* out);

// The trace's deviation from the linear interpolation across it, of p - q: what Basic LI
// and LI + NMAR remove, and what the refined correction models.
std::vector<double> trace_deviation(const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                                    const mar_params& p);

// How many samples a trace segment reaches past its first and last metal sample (the
// blurred edge of the metal, one pixel) at sample spacing `delta`.
int mdt_segment_extension(double delta);
