#include "ct/metal_hardening.h"

#include <algorithm>
#include <cmath>

double hardening_x(const line_samples& s, int i, const mar_params& p)
{
    return s.metal[i] / std::max(p.beam_hardening[0], 1e-6);
}

double hardening_t(const line_samples& s, int i, const mar_params& p)
{
    return s.tissue[i] / std::max(p.beam_hardening[0] * p.beam_hardening[2], 1e-6);
}

namespace {
// The model's terms: x, x^2 .. x^H, then x t.
int hardening_terms(int degree) { return degree >= 2 ? degree + 1 : 1; }
void hardening_features(int degree, double x, double t, double* f)
{
    f[0] = x;
    double power = x;
    for (int k = 2; k <= degree; k++) f[k - 1] = power *= x;
    if (degree >= 2) f[degree] = x * t;
}
}  // namespace

void hardening_fit::begin(int d)
{
    degree = std::max(d, 0);
    const int n = hardening_terms(degree);
    ata.assign((size_t)n * n, 0.0);
    atb.assign(n, 0.0);
    c.assign(n, 0.0);
    x_max = 0;
}

void hardening_fit::add(double x, double t, double d)
{
    const int n = hardening_terms(degree);
    double f[16];
    hardening_features(degree, x, t, f);
    for (int a = 0; a < n; a++) {
        atb[a] += f[a] * d;
        for (int b = 0; b < n; b++) ata[(size_t)a * n + b] += f[a] * f[b];
    }
    x_max = std::max(x_max, x);
}

void hardening_fit::solve(double ridge)
{
    const int n = hardening_terms(degree);
    std::vector<double> A = ata, y = atb;
    // The non-linear terms are held back in proportion to the fit's own scale, so a
    // trace with little spread in path length does not produce wild coefficients.
    for (int a = 1; a < n; a++) A[(size_t)a * n + a] *= 1.0 + std::max(ridge, 0.0);
    for (int a = 0; a < n; a++) A[(size_t)a * n + a] += 1e-9 * (1 + A[(size_t)a * n + a]);
    // Gaussian elimination with partial pivoting (n <= 12).
    for (int col = 0; col < n; col++) {
        int piv = col;
        for (int r = col + 1; r < n; r++)
            if (std::abs(A[(size_t)r * n + col]) > std::abs(A[(size_t)piv * n + col])) piv = r;
        if (std::abs(A[(size_t)piv * n + col]) < 1e-300) {
            c.assign(n, 0.0);
            return;
        }
        if (piv != col) {
            for (int k = 0; k < n; k++) std::swap(A[(size_t)col * n + k], A[(size_t)piv * n + k]);
            std::swap(y[col], y[piv]);
        }
        for (int r = col + 1; r < n; r++) {
            const double f = A[(size_t)r * n + col] / A[(size_t)col * n + col];
            for (int k = col; k < n; k++) A[(size_t)r * n + k] -= f * A[(size_t)col * n + k];
            y[r] -= f * y[col];
        }
    }
    for (int r = n - 1; r >= 0; r--) {
        double v = y[r];
        for (int k = r + 1; k < n; k++) v -= A[(size_t)r * n + k] * c[k];
        c[r] = v / A[(size_t)r * n + r];
    }
}

double hardening_fit::nonlinear(double x, double t) const
{
    if (degree < 2 || c.empty()) return 0.0;
    const double xc = std::min(x, x_max);
    double f[16];
    hardening_features(degree, xc, t, f);
    double v = 0;
    for (int k = 1; k < hardening_terms(degree); k++) v += c[k] * f[k];
    return v;
}

void add_to_fit(hardening_fit& fit, const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                const mar_params& p)
{
    const std::vector<double> d = trace_deviation(s, segments, p);
    for (auto [A, B] : segments)
        for (int j = A; j < B; j++) fit.add(hardening_x(s, j, p), hardening_t(s, j, p), d[j]);
}
