#include "evaluation/compare.h"

#include <cmath>
#include <memory>
#include <vector>

#include "core/record.h"
#include "core/ui.h"
#include "processing/colour.h"
#include "evaluation/ssim.h"


namespace {

// One image in the representation of the comparison: `n` values per pixel over the
// whole processed size.
struct plane_set {
    const int* data = nullptr;
    std::unique_ptr<int[]> owned;
    int n = 1;
};

plane_set view(const int* data, int n)
{
    plane_set p;
    p.data = data;
    p.n = n;
    return p;
}

// A copy of `src` (colour space c, n values per pixel) converted to RGB.
bool converted_to_rgb(const int* src, int n, int c, int w, int h, plane_set& out)
{
    const size_t count = (size_t)w * h * n;
    out.owned.reset(new int[count]);
    std::copy(src, src + count, out.owned.get());
    if (!to_rgb(out.owned.get(), w, h, (colour_t)c, 0, 1)) return false;
    out.data = out.owned.get();
    out.n = 3;
    return true;
}

}  // namespace

wxString compare_to_ref(int x0, int y0, int x1, int y1)
{
    const int w = info.proc_width, h = info.proc_height;
    if (!info.processed_image || !info.sampled_image || !info.ref_image || info.subsample != 1)
        return wxString();
    if (x0 < 0 || x0 >= x1 || x1 > w || y0 < 0 || y0 >= y1 || y1 > h) return wxString();
    // The reference has the loaded size; the processed size must match it.
    if (w != info.width || h != info.height) return wxString();

    const int dc = info.data_colour;
    const int dn = dc ? info.channels : 1;
    const int pn = info.colour_processing ? info.channels : 1;
    const int c = info.colour_processing ? info.colour : 0;
    plane_set in = view(info.sampled_image, pn), out = view(info.processed_image, pn);
    plane_set ref = view(info.ref_image, dn);
    int space = c;  // the space the three images share after conversion
    if (dc != 0 && !info.colour_processing) {
        // Colour data processed as grey: the reference becomes grey the same way.
        ref.owned.reset(new int[(size_t)w * h]);
        if (!to_grey(info.ref_image, w, h, (colour_t)dc, ref.owned.get(), true))
            return wxString();
        ref.data = ref.owned.get();
        ref.n = 1;
        space = 0;
    } else if (info.colour_processing && c != dc) {
        if (!converted_to_rgb(info.sampled_image, pn, c, w, h, in) ||
            !converted_to_rgb(info.processed_image, pn, c, w, h, out))
            return wxString();
        if (dc == 7 || dc == 8) {
            if (!converted_to_rgb(info.ref_image, dn, dc, w, h, ref)) return wxString();
        }
        space = 1;
    }
    if (in.n != ref.n || out.n != ref.n) return wxString();
    const int n = ref.n;

    // Weights: one unit of a channel in full-scale fractions, the channel factor over
    // 16 x full scale (255 levels, or 4095 for RAW data).
    // Grey data keep unit weights; the grey factor belongs to grey made from colour.
    double factor[4] = {1, 1, 1, 1};
    if (dc != 0) channel_factor((colour_t)space, factor, (colour_t)dc);
    const double full = (space == 8 || space == 9) ? 4095.0 : 255.0;
    const double r = info.ref_range > 0 ? info.ref_range : 1.0;
    const double o = (1 - r) / 2;
    double s[4], ok[4];
    for (int k = 0; k < n; k++) {
        s[k] = factor[k] / (16 * full) / r;
        ok[k] = o / r;
    }
    std::vector<int> counted;
    if (info.channel > 0 && info.channel <= n && n > 1)
        counted.push_back(info.channel - 1);
    else
        for (int k = 0; k < n; k++) counted.push_back(k);

    double e_in = 0, e_out = 0, p = 0;
    size_t count = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            const size_t i = ((size_t)y * w + x) * n;
            for (int k : counted) {
                const double rv = ref.data[i + k];
                const double di = (in.data[i + k] - rv) * s[k];
                const double dq = (out.data[i + k] - rv) * s[k];
                const double pv = rv * s[k] - ok[k];
                e_in += di * di;
                e_out += dq * dq;
                p += pv * pv;
                count++;
            }
        }
    const double d_in = 10 * std::log10(e_in / count);
    const double d_out = 10 * std::log10(e_out / count);
    const double d_ref = 10 * std::log10(p / count);
    // Equal errors are no improvement, even when both are zero.
    const double gain = e_in == e_out ? 0.0 : d_in - d_out;

    wxString report;
    if (info.show_ssim) {
        const int rw = x1 - x0, rh = y1 - y0;
        const size_t m = (size_t)rw * rh;
        std::vector<int> pr(m), pi(m), po(m), map_in(m), map_out(m);
        double sum_in = 0, sum_out = 0;
        auto byte = [](double v) {
            const double b = std::trunc(v * 255 + 0.5);
            return (int)(b < 0 ? 0 : b > 255 ? 255 : b);
        };
        for (int k : counted) {
            for (int y = y0; y < y1; y++)
                for (int x = x0; x < x1; x++) {
                    const size_t i = ((size_t)y * w + x) * n + k;
                    const size_t j = (size_t)(y - y0) * rw + (x - x0);
                    pr[j] = byte(ref.data[i] * s[k] - ok[k]);
                    pi[j] = byte(in.data[i] * s[k] - ok[k]);
                    po[j] = byte(out.data[i] * s[k] - ok[k]);
                }
            ssim(pr.data(), pi.data(), rw, rh, map_in.data(), po.data(), map_out.data());
            for (size_t j = 0; j < m; j++) {
                sum_in += map_in[j];
                sum_out += map_out[j];
            }
        }
        const double samples = (double)m * counted.size();
        report = wxString::Format("SNR (SSIM) %.2lf (%.3lf) to %.2lf (%.3lf)", d_ref - d_in,
                                  sum_in / samples / 4080, d_ref - d_out,
                                  sum_out / samples / 4080);
    } else if (info.colour_processing && c == 8) {
        report = wxString::Format("SNR(dB) %.2lf to %.2lf = %.2lf", d_ref - d_in, d_ref - d_out,
                                  gain);
    } else {
        report = wxString::Format("PSNR(dB) %.2lf to %.2lf = %.2lf", -d_in, -d_out, gain);
    }
    ui_status(0, report);
    return report;
}
