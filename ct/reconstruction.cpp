#include "ct/reconstruction.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <valarray>

#include "ct/fft.h"

namespace {
const double pi = 3.14159265358979323846;
}

rsq_geometry make_rsq_geometry(int views, int samples, int fan, int margin)
{
    rsq_geometry g;
    g.views = views;
    g.samples = samples;
    g.fan = fan;
    g.margin = margin;
    g.P = 2 * (views - 2 * margin - fan);
    if (g.P < 2) return g;
    g.dtheta = pi / (g.P / 2);
    g.D = (samples / 2) / std::tan(fan * g.dtheta / 2);
    g.gamma_max = 0.172 * fan * g.dtheta;
    g.u0 = std::trunc((samples / 2) - 0.5);
    return g;
}

void rebin_fan_to_parallel(const int* A, const rsq_geometry& g, int* out)
{
    const int P = g.P, W0 = g.samples, V = g.views;
    // The detector position and the view offset depend on the column only.
    std::vector<double> u(P), w_offset(P);
    std::vector<char> valid(P);
    for (int q = 0; q < P; q++) {
        const double s = q - (P / 2);
        valid[q] = std::fabs(s) <= g.D;
        if (!valid[q]) continue;
        const double gamma = std::asin(s / g.D);
        if (gamma > g.gamma_max)
            u[q] = (q - 5.0 * P / 6) / std::cos(gamma - 2 * g.gamma_max) + g.u0 + P / 3.0;
        else if (gamma < -g.gamma_max)
            u[q] = (q - P / 6.0) / std::cos(gamma + 2 * g.gamma_max) + g.u0 - P / 3.0;
        else
            u[q] = s / std::cos(gamma) + g.u0;
        w_offset[q] = gamma / g.dtheta + g.margin + (g.fan / 2) - 0.5;
    }
    for (int r = 0; r < P; r++) {
        int* row = out + (size_t)r * P;
        for (int q = 0; q < P; q++) {
            row[q] = 0;
            if (!valid[q] || !std::isfinite(u[q])) continue;
            const double w = w_offset[q] + r;
            const double fu_floor = std::floor(u[q]), fw_floor = std::floor(w);
            if (fu_floor < 0 || fu_floor >= W0 - 1 || fw_floor < 0 || fw_floor >= V - 1) continue;
            const int iu = (int)fu_floor, iw = (int)fw_floor;
            const double fu = u[q] - iu, fw = w - iw;
            const int* a0 = A + (size_t)iw * W0;
            const int* a1 = a0 + W0;
            row[q] = (int)(((1 - fu) * a0[iu] + fu * a0[iu + 1]) * (1 - fw) +
                           ((1 - fu) * a1[iu] + fu * a1[iu + 1]) * fw);
        }
    }
}

std::vector<int> reduce_sinogram(const int* in, int P, int k)
{
    const int W = P / k;
    std::vector<int> out((size_t)W * W);
    for (int y = 0; y < W; y++)
        for (int x = 0; x < W; x++) {
            int64_t sum = 0;
            for (int dy = 0; dy < k; dy++)
                for (int dx = 0; dx < k; dx++) sum += in[(size_t)(y * k + dy) * P + x * k + dx];
            out[(size_t)y * W + x] = (int)(sum / (k * k));
        }
    return out;
}

std::vector<double> make_ramp_filter(int W, int64_t window, double per_step)
{
    int L = 2;
    while (L < W) L *= 2;
    L *= 2;
    std::valarray<std::complex<double>> h(std::complex<double>(0.0), (size_t)L);
    h[0] = 0.25;
    for (int n = 1; n <= L / 2; n += 2) h[n] = -1.0 / ((n * pi) * (n * pi));
    for (int n = L / 2 + 1; n < L; n++) h[n] = h[L - n];
    my_fft(h);
    std::vector<double> ramp(L);
    for (int n = 0; n <= L / 2; n++) ramp[n] = h[n].real();
    if (window <= 99) {
        const double e = (100 - window) * per_step;
        for (int n = 1; n <= L / 2; n++) ramp[n] *= std::pow(std::cos(pi * n / L), e);
    }
    for (int n = L / 2 + 1; n < L; n++) ramp[n] = ramp[L - n];
    return ramp;
}

void fft_rsq(const int* sinogram, int W, int64_t window, double pixel_width, double weight, double* out)
{
    const std::vector<double> ramp = make_ramp_filter(W, window);
    const int L = (int)ramp.size();
    const double scale = pi * weight / ((W / 2) * pixel_width * 0.1);
    std::valarray<std::complex<double>> work((size_t)L);
    for (int i = 0; i < W / 2; i++) {
        const int* row = sinogram + (size_t)i * W;
        for (int x = 0; x < L; x++) work[x] = x < W ? (double)row[x] : 0.0;
        my_fft(work);
        for (int n = 0; n < L; n++) work[n] *= ramp[n];
        my_ifft(work);
        for (int x = 0; x < W; x++) out[(size_t)i * W + x] = work[x].real() * scale;
    }
}

void build_cone_table(int* table, int W, int k, double D, double z, int N)
{
    for (int j = 0; j < W; j++) {
        const double u = j - (W / 2);
        const double under = D * D - (u * k) * (u * k);
        for (int m = 0; m < W; m++) {
            int slot = N;
            if (under > 0) {
                const double R = std::sqrt(under);
                const double a = (m - (W / 2)) * k - D + R;
                const double e = z * a / (a + R);
                if (std::isfinite(e)) {
                    if (e >= 0)
                        slot = (int)std::min<double>(2 * N, N + std::floor(e + 0.5));
                    else
                        slot = (int)std::max<double>(0, N - std::floor(0.5 - e));
                }
            }
            table[(size_t)j * W + m] = slot;
        }
    }
}

angle_frame frame_of_angle(int W, int i)
{
    const double theta = pi / 2 + i * pi / (W / 2);
    angle_frame a;
    a.ca = std::cos(theta);
    a.sa = std::sin(theta);
    const double cx = W / 2.0, cy = W / 2.0;
    a.ox = cx - a.ca * cx - a.sa * cy;
    a.oy = cy + a.sa * cx - a.ca * cy;
    return a;
}

void back_project_angles(const backprojection_input& in, int i0, int i1, int* image, int y0, int y1)
{
    const int W = in.W;
    const double top = W - 1;
    std::vector<angle_frame> frames;
    for (int i = i0; i < i1; i++) frames.push_back(frame_of_angle(W, i));
    for (int y = std::max(y0, 0); y < y1 && y < W; y++) {
        const int h = (int)std::floor(std::sqrt((double)(W - y) * y));
        const int x0 = std::max((W / 2) - h + 1, 0), x1 = std::min((W / 2) + h, W - 1);
        int* row = image + (size_t)y * W;
        for (int i = i0; i < i1; i++) {
            const angle_frame& a = frames[i - i0];
            const double* centre = in.slots[in.N] + (size_t)i * W;
            // t (and rho) grow by ca (sa) per column. Inside the disc t lies in 0 .. W; near
            // the rim both samples are held inside the row.
            double t = a.ca * (x0 - a.ox) - a.sa * (y - a.oy);
            if (!in.table) {
                for (int x = x0; x <= x1; x++, t += a.ca) {
                    const double tc = t < 0 ? 0 : t > top ? top : t;
                    const int j = (int)tc;
                    const double f = tc - j;
                    const int j1 = j + 1 < W ? j + 1 : j;
                    row[x] = (int)(row[x] + ((1 - f) * centre[j] + f * centre[j1]) * in.weight);
                }
                continue;
            }
            // The rows of this angle in every slot.
            const double* rows[256];
            for (int k = 0; k <= 2 * in.N; k++) rows[k] = in.slots[k] + (size_t)i * W;
            const uint8_t* table = in.table;
            const double weight = in.weight, ca = a.ca, sa = a.sa;
            double rho = ca * (y - a.oy) + sa * (x0 - a.ox) + 0.5;
            for (int x = x0; x <= x1; x++, t += ca, rho += sa) {
                const double tc = t < 0 ? 0 : t > top ? top : t;
                const int j = (int)tc;
                const double f = tc - j;
                const int j1 = j + 1 < W ? j + 1 : j;
                const int m = rho < 0 ? 0 : rho > top ? W - 1 : (int)rho;
                const double* g = rows[table[(size_t)j * W + m]];
                const int v = (int)(row[x] + ((1 - f) * g[j] + f * g[j1]) * weight);
                row[x] = v;
            }
        }
    }
}
