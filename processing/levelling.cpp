// OCCO and self-dual levelling.
#include "processing/levelling.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "core/ui.h"
#include "processing/grain_filter.h"
#include "processing/local_rank_filter.h"
#include "processing/masks.h"
#include "processing/rank_filter.h"

void occo_plane(int* in, int w, int h, int r, double c, int* out, int* guide, int* grey, const mask_family* family,
                const int* mask_of_pixel, const filter_params& p)
{
    const size_t n = (size_t)w * h;
    std::vector<int> O(n), C(n), CO(n), OC(n), spare(n);
    if (p.mask == MASK_LOCAL && guide) {
        const double q = std::min(c, 1 - c);
        rank_2d_x(in, w, h, 1, r, q, O.data(), C.data(), guide, grey ? grey : in, p);
        if (c > 0.5) std::swap(O, C);
        rank_2d_x(O.data(), w, h, 1, r, q, spare.data(), CO.data(), guide, grey ? grey : in, p);
        if (c > 0.5) std::swap(spare, CO);
        rank_2d_x(C.data(), w, h, 1, r, q, OC.data(), spare.data(), guide, grey ? grey : in, p);
        if (c > 0.5) std::swap(spare, OC);
    } else if (p.mask == MASK_AREA) {
        grain_filter_2d(in, w, h, r, c, O.data());
        grain_filter_2d(in, w, h, r, 1 - c, C.data());
        grain_filter_2d(O.data(), w, h, r, 1 - c, CO.data());
        grain_filter_2d(C.data(), w, h, r, c, OC.data());
    } else if (p.mask == MASK_VARYING && family && mask_of_pixel) {
        const int* m = mask_of_pixel;
        varied_rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), m, m, *family, p);
        varied_rank_2d(O.data(), w, h, r, 1 - c, CO.data(), 0, nullptr, m, m, *family, p);
        varied_rank_2d(C.data(), w, h, r, c, OC.data(), 0, nullptr, m, m, *family, p);
    } else {
        rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), false, p);
        rank_2d(O.data(), w, h, r, 1 - c, CO.data(), 0, nullptr, false, p);
        rank_2d(C.data(), w, h, r, c, OC.data(), 0, nullptr, false, p);
    }
    for (size_t i = 0; i < n; i++) out[i] = (int)(((long long)CO[i] + OC[i]) / 2);
}

bool self_dual_levelling(int* in, int w, int h, double c, int* marker, int channel_offset, int iterations_total,
                         const filter_params& p)
{
    if (w + h <= 3) return true;
    const size_t n = (size_t)w * h;
    const int most = (w + h) / 4;
    std::vector<int> lo(n), hi(n);
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<ui_progress> progress;
    for (int iteration = 0; iteration < most; iteration++) {
        rank_2d(marker, w, h, 1, c, lo.data(), 1 - c, hi.data(), true, p);
        size_t changed = 0;
        for (size_t i = 0; i < n; i++) {
            const int v = std::min(std::max(in[i], lo[i]), hi[i]);
            changed += v != marker[i];
            marker[i] = v;
        }
        if (changed == 0) break;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!progress && seconds > 2.001) {
            progress = std::make_unique<ui_progress>("Applying self-dual levelling",
                                                     wxString::Format("Change was %7.3lf%% on iteration %i", 100.0, 0),
                                                     std::max(iterations_total, 1), true);
        }
        if (progress &&
            !progress->update(std::min(iteration + 1 + channel_offset, iterations_total),
                              wxString::Format("Change was %7.3lf%% on iteration %i", 100.0 * changed / n, iteration + 1)))
            return false;
    }
    return true;
}
