#include "ct/metal_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <wx/string.h>

#include "core/record.h"
#include "core/ui.h"
#include "ct/metal_correction.h"
#include "ct/metal_hardening.h"
#include "ct/metal_trace.h"
#include "display/display_image.h"
#include "processing/row_bands.h"

namespace {

using steady = std::chrono::steady_clock;

double seconds_since(steady::time_point t)
{
    return std::chrono::duration<double>(steady::now() - t).count();
}

// The settings of the CT pages as the routines below take them.
mar_params params_from_record()
{
    mar_params p;
    p.recon.scale = info.recon_scale;
    p.recon.angle = info.recon_angle;
    p.recon.filter = info.recon_filter;
    p.recon.noise = info.recon_noise;
    p.recon.seed = info.recon_seed;
    p.recon_only = info.recon_only != 0;
    p.li = info.metal_li != 0;
    p.nmar = info.metal_nmar != 0;
    p.rmar = info.metal_rmar != 0;
    p.hardening = info.metal_hardening;
    p.predict_back = info.metal_predict_back != 0;
    p.iteration = info.metal_iteration;
    p.threshold = info.metal_threshold;
    p.air = info.metal_air;
    p.smooth = info.metal_smooth;
    p.neighbours = info.metal_smooth_frames > 0;
    std::copy(info.trace_pad, info.trace_pad + 2, p.trace_pad);
    std::copy(info.beam_hardening, info.beam_hardening + 3, p.beam_hardening);
    p.data_min = info.data_min;
    p.data_max = info.data_max;
    p.subsample = info.subsample;
    p.sinogram = info.xtreme_load == 0;
    return p;
}

// Sets line_start and line_end to angle i of `line` (source pixels).
void show_line_at(const mdt_line& line, int i)
{
    const mdt_angle a = mdt_angle_at(line, i);
    const double s = std::max(info.subsample, 1);
    info.line_start = vertex2d((line.cx - line.R * a.ux) * s, (line.cy - line.R * a.uy) * s);
    info.line_end = vertex2d((line.cx + line.R * a.ux) * s, (line.cy + line.R * a.uy) * s);
}

// The prior image of NMAR: every value rounded to the nearest level background + j x range
// (integer arithmetic in source units). A range of 0 would divide by zero: one level per
// unit then, which leaves the slice as it is.
void build_prior()
{
    const size_t n = (size_t)info.proc_width * info.proc_height;
    if (!info.aux_image) info.aux_image = new int[n];
    const int b = info.metal_background, g = std::max(info.metal_range, 1);
    for (size_t i = 0; i < n; i++) {
        const int v = info.processed_image[i] / 16;
        info.aux_image[i] = (b - 2000 + ((2000 - b) + g / 2 + v) / g * g) * 16;
    }
}


// After the predict-background pass: the predicted background added to the slice below the
// metal, capped at the metal threshold; air stays air and the metal stays as it was.
void finish_predict_pass()
{
    const size_t n = (size_t)info.proc_width * info.proc_height;
    const int top = 16 * info.metal_threshold, floor_level = 16 * info.data_min;
    for (size_t i = 0; i < n; i++) {
        const int s = info.sampled_image[i];
        if (s <= floor_level) info.processed_image[i] = 0;
        if (s < top) {
            const int v = std::min(info.processed_image[i] + s, top);
            info.processed_image[i] = info.sampled_image[i] = v;
        } else {
            info.processed_image[i] = s;
        }
    }
}

// Clamps processed_image into the data range, copies it into sampled_image and returns
// the change in percent of the data range over the image.
double settle_iteration()
{
    const size_t n = (size_t)info.proc_width * info.proc_height;
    const int lo = 16 * (info.data_min + 1), hi = std::max(16 * info.data_max, lo);
    double sum = 0;
    for (size_t i = 0; i < n; i++) {
        const int v = std::clamp(info.processed_image[i], lo, hi);
        sum += std::abs((double)info.sampled_image[i] - v);
        info.processed_image[i] = info.sampled_image[i] = v;
    }
    // A flat slice has no range to measure against: its change is measured in levels.
    const double range = std::max(info.data_max - info.data_min, 1);
    return sum * 100.0 / (range * 16.0 * (double)n);
}

// Writes angle i's projection (less its correction outside reconstruction runs) as
// sinogram row i.
void write_sinogram_row(const mdt_line& line, int i, const line_samples& s, const double* correction)
{
    const int w = info.proc_width, h = info.proc_height, L = (int)s.p.size();
    if (i >= h) return;
    const double f = (100.0 / info.recon_scale) * (100.0 / info.recon_angle) * line.angles * 20.0 /
                     ((double)(w + h) * (w + h) * 3.14159265358979323846);
    int* row = info.processed_image + (size_t)i * w;
    for (int x = 0; x < w; x++) {
        const int j = x - w / 2 + L / 2;
        if (j < 0 || j >= L) continue;
        const double v = info.recon_only ? s.p[j] : s.p[j] - correction[j];
        row[x] = (int)std::lround((v * f + 512) * 16);
    }
}

}  // namespace

const char* mdt_refusal()
{
    if (info.rsq_loaded) return "raw projection data are loaded: reconstruct them on the CT Recon page";
    if (info.data_colour != 0) return "the data are in colour: the correction works on grey CT slices";
    if (!info.sampled_image || !info.processed_image || info.proc_width < 2 || info.proc_height < 2)
        return "no CT slice is loaded";
    return nullptr;
}

bool setup_mdt_line_and_filter(bool fit_metal, bool whole_image, bool keep_line, mdt_line& line)
{
    if (keep_line) info.line_margins[0] = info.line_margins[1] = 0;
    const vertex2d kept[2] = {info.line_start, info.line_end};
    if (!place_mdt_line(info.processed_image, info.proc_width, info.proc_height, info.metal_neighbours,
                        params_from_record(), fit_metal, whole_image, keep_line ? kept : nullptr, line))
        return false;
    std::copy(line.margins, line.margins + 2, info.line_margins);
    const double s = std::max(info.subsample, 1);
    info.line_start = vertex2d((line.cx - line.R) * s, line.cy * s);
    info.line_end = vertex2d((line.cx + line.R) * s, line.cy * s);
    if (line.L != info.profile_length || !info.line_profile || !info.projection_line) {
        info.profile_length = line.L;
        release_array(info.line_profile);
        release_array(info.projection_line);
        info.line_profile = new double[4 * (size_t)line.L]();
        info.projection_line = new double[(size_t)line.L]();
    }
    info.recon_angles = line.angles;
    info.fft_length = (int)line.ramp.size();
    release_array(info.ramp_filter);
    info.ramp_filter = new double[line.ramp.size()];
    std::copy(line.ramp.begin(), line.ramp.end(), info.ramp_filter);
    return true;
}

bool mdt_one_iteration(const mdt_line& placed)
{
    if (mdt_refusal() || placed.ramp.empty() || placed.L < 2) return false;
    ui_long_run busy;
    const auto started = steady::now();
    mdt_line line = placed;
    std::copy(info.line_margins, info.line_margins + 2, line.margins);
    const mar_params p = params_from_record();
    const int w = info.proc_width, h = info.proc_height;
    const int K = std::max(line.angles, 1), L = line.L;
    const bool recon = p.recon_only;
    const bool predict = p.predict_back && !recon;
    const bool last_allowed = info.metal_iteration == info.metal_iterations - 1;
    const bool sinogram = p.sinogram && (recon || last_allowed);

    const bool prior = mdt_uses_prior(p);
    if (prior) build_prior();

    // Every angle projected, on both cores (each angle reads only the prepared planes).
    mdt_planes planes;
    prepare_mdt_planes(planes, info.sampled_image, prior ? info.aux_image : nullptr, w, h, info.metal_neighbours, p);
    std::vector<line_samples> lines(K);
    over_row_bands(K, (long long)K * L * (w + h), [&](int a0, int a1, yield_clock* clock) {
        for (int i = a0; i < a1; i++) {
            project_line(planes, mdt_angle_at(line, i), lines[i]);
            if (clock) clock->maybe_yield();
        }
    });
    // The noise in angle order from one generator, seeded afresh for every pass.
    if (recon) {
        std::mt19937 generator((std::mt19937::result_type)p.recon.seed);
        for (line_samples& s : lines) add_detection_noise(s, p, generator);
    }
    // A correction whose rays meet no metal has nothing to do: the slice stays as it was.
    if (!recon && std::none_of(lines.begin(), lines.end(), [](const line_samples& s) {
            for (size_t j = 0; j < s.p.size(); j++)
                if (s.projected[j] && (s.trace[j] > 0 || s.mark[j])) return true;
            return false;
        }))
        return false;
    if (recon || predict || (p.sinogram && last_allowed))
        std::fill(info.processed_image, info.processed_image + (size_t)w * h, 0);

    // The refined correction fits one hardening model to the whole trace of the slice.
    const double delta = mdt_angle_at(line, 0).delta;
    hardening_fit fit;
    if (p.rmar && !recon) {
        fit.begin(predict ? 3 : p.hardening);
        for (const line_samples& s : lines)
            add_to_fit(fit, s, trace_segments(s, mdt_segment_extension(delta), p), p);
        fit.solve(p.beam_hardening[1]);
    }

    std::vector<std::vector<double>> filtered(K, std::vector<double>(L));
    std::vector<std::pair<int, int>> kept(K);
    for (int i = 0; i < K; i++) {
        line_correction(lines[i], &fit, predict, delta, p, filtered[i].data());
        if (sinogram) write_sinogram_row(line, i, lines[i], filtered[i].data());
    }
    // The line the canvas shows: the last angle's.
    if (info.projection_line && info.line_profile && info.profile_length == L)
        line_display(lines[K - 1], filtered[K - 1].data(), info.window_centre, info.window_range,
                     info.projection_line, info.line_profile);
    show_line_at(line, K - 1);

    if (!sinogram) {
        const bool negate = recon || predict;
        over_row_bands(K, (long long)K * (long long)line.ramp.size() * 20, [&](int a0, int a1, yield_clock* clock) {
            for (int i = a0; i < a1; i++) {
                kept[i] = filter_correction(filtered[i].data(), L, negate, line, p);
                if (clock) clock->maybe_yield();
            }
        });
        std::vector<uint8_t> skip;
        if (!negate) {
            skip.resize((size_t)w * h);
            for (size_t k = 0; k < skip.size(); k++) skip[k] = info.sampled_image[k] >= 16 * p.threshold;
        }
        // Blocks of angles, so a watched run can show the slice growing.
        const size_t n = (size_t)w * h;
        const std::vector<int> base(info.processed_image, info.processed_image + n);
        std::vector<double> sum(n, 0.0);
        auto settle = [&] {
            for (size_t k = 0; k < n; k++) info.processed_image[k] = base[k] - (int)std::lround(sum[k]);
        };
        auto last_refresh = steady::now();
        const int block = 16;
        for (int a0 = 0; a0 < K; a0 += block) {
            const int a1 = std::min(K, a0 + block);
            std::vector<std::vector<double>> part(filtered.begin() + a0, filtered.begin() + a1);
            std::vector<std::pair<int, int>> part_kept(kept.begin() + a0, kept.begin() + a1);
            over_row_bands(h, (long long)(a1 - a0) * w * h, [&](int y0, int y1, yield_clock*) {
                back_project_block(line, part, part_kept, a0, y0, y1, skip.empty() ? nullptr : skip.data(),
                                   sum.data());
            });
            if (seconds_since(last_refresh) > 0.100999) {
                if (info.show_iterations) {
                    settle();
                    create_display_image();
                    ui_repaint();
                }
                ui_yield();
                last_refresh = steady::now();
            }
        }
        settle();
    }
    info.show_projection = 1;
    info.backproject_pending = 1;

    double change;
    if (predict) {
        finish_predict_pass();
        info.metal_iteration--;
        info.metal_predict_back = 0;
        change = 1e10;
    } else {
        change = settle_iteration();
    }
    info.metal_change = change;
    if (!recon)
        ui_status(2, wxString::Format("%.3lf %% change in %.3lf secs.", change, seconds_since(started)));
    if (info.xtreme_load != 0 || sinogram) {
        create_display_image();
        ui_repaint();
    }
    info.metal_iteration++;
    return true;
}

bool mdt_correct_frame()
{
    if (mdt_refusal()) return false;
    const auto started = steady::now();
    info.metal_iteration = 0;
    info.metal_change = 1e10;
    mdt_line line;
    if (info.recon_only) {
        if (!setup_mdt_line_and_filter(false, true, false, line)) return false;
        info.show_iterations = info.xtreme_load != 0;
        const bool ran = mdt_one_iteration(line);
        info.show_iterations = 1;
        if (!ran) return false;
        ui_status(2, wxString::Format("Reconstruction in %.3lf secs", seconds_since(started)));
        return true;
    }
    if (!setup_mdt_line_and_filter(true, info.xtreme_load == 0, false, line)) return false;
    info.show_iterations = 0;
    while (info.metal_iteration < info.metal_iterations) {
        if (!mdt_one_iteration(line)) break;
        std::swap(info.line_margins[0], info.line_margins[1]);
        // A predict-background pass does not count as an iteration.
        if (info.metal_iteration >= 2 && info.metal_convergence / 1000.0 > info.metal_change) break;
    }
    info.show_iterations = 1;
    if (info.metal_choice == 6 && info.metal_iteration >= 0) info.metal_predict_back = 1;
    // Only a run that corrected the slice reports a time.
    if (info.metal_iteration < 1) return false;
    ui_status(2, wxString::Format("MAR in %.3lf secs (%i iterations)", seconds_since(started), info.metal_iteration));
    return true;
}
