// Block-PCA noise variance and the symmetric eigenvalue routine it needs.
#include "processing/noise_variance.h"

#include <algorithm>
#include <cmath>
#include <vector>

void ReduceToTridiagonalMatrix(double* a, int n, double* d, double* e)
{
    auto A = [&](int i, int j) -> double& { return a[i * n + j]; };
    for (int i = n - 1; i > 0; i--) {
        const int l = i - 1;
        double h = 0.0;
        if (l > 0) {
            double scale = 0.0;
            for (int k = 0; k <= l; k++) scale += std::fabs(A(i, k));
            if (scale == 0.0) {
                e[i] = A(i, l);
            } else {
                for (int k = 0; k <= l; k++) {
                    A(i, k) /= scale;
                    h += A(i, k) * A(i, k);
                }
                double f = A(i, l);
                const double g = f >= 0 ? -std::sqrt(h) : std::sqrt(h);
                e[i] = scale * g;
                h -= f * g;
                A(i, l) = f - g;
                f = 0.0;
                for (int j = 0; j <= l; j++) {
                    double s = 0.0;
                    for (int k = 0; k <= j; k++) s += A(j, k) * A(i, k);
                    for (int k = j + 1; k <= l; k++) s += A(k, j) * A(i, k);
                    e[j] = s / h;
                    f += e[j] * A(i, j);
                }
                const double hh = f / (h + h);
                for (int j = 0; j <= l; j++) {
                    const double fj = A(i, j);
                    const double gj = e[j] - hh * fj;
                    e[j] = gj;
                    for (int k = 0; k <= j; k++) A(j, k) -= fj * e[k] + gj * A(i, k);
                }
            }
        } else {
            e[i] = A(i, l);
        }
        d[i] = h;
    }
    e[0] = 0.0;
    for (int i = 0; i < n; i++) d[i] = A(i, i);
}

void ComputeEigenValuesUsingQL(double* d, double* e, int n)
{
    for (int i = 1; i < n; i++) e[i - 1] = e[i];
    e[n - 1] = 0.0;
    for (int l = 0; l < n; l++) {
        for (int iteration = 0; iteration < 30; iteration++) {
            int m = l;
            for (; m < n - 1; m++) {
                const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
                if (std::fabs(e[m]) <= 1e-15 * dd) break;
            }
            if (m == l) break;
            double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
            double r = std::hypot(g, 1.0);
            g = d[m] - d[l] + e[l] / (g + (g >= 0 ? std::fabs(r) : -std::fabs(r)));
            double s = 1.0, c = 1.0, p = 0.0;
            int i = m - 1;
            for (; i >= l; i--) {
                double f = s * e[i];
                const double b = c * e[i];
                r = std::hypot(f, g);
                e[i + 1] = r;
                if (r == 0.0) {
                    d[i + 1] -= p;
                    e[m] = 0.0;
                    break;
                }
                s = f / r;
                c = g / r;
                g = d[i + 1] - p;
                r = (d[i] - g) * s + 2.0 * c * b;
                p = s * r;
                d[i + 1] = g + p;
                g = c * r - b;
            }
            if (r == 0.0 && i >= l) continue;
            d[l] -= p;
            e[l] = g;
            e[m] = 0.0;
        }
    }
    std::sort(d, d + n);
}

void ComputeEigenvalues(double* a, int n, double* eigenvalues)
{
    std::vector<double> e(n);
    ReduceToTridiagonalMatrix(a, n, eigenvalues, e.data());
    ComputeEigenValuesUsingQL(eigenvalues, e.data(), n);
}

namespace {

struct BlockInfo {
    double variance;
    long long index;
};

// Rounds half away from zero.
long long nearest(double v) { return (long long)(v >= 0 ? v + 0.5 : v - 0.5); }

}  // namespace

double EstimateNoiseVariance(int* image, int w, int h)
{
    if (!image || w < 6 || h < 6) return 0.0;
    // Block sums, sums of squares and clipped counts from summed-area tables.
    const int W = w + 1;
    std::vector<double> s1((size_t)W * (h + 1), 0), s2((size_t)W * (h + 1), 0);
    std::vector<int> sc((size_t)W * (h + 1), 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const double v = image[(size_t)y * w + x];
            const size_t at = (size_t)(y + 1) * W + x + 1;
            s1[at] = v + s1[at - 1] + s1[at - W] - s1[at - W - 1];
            s2[at] = v * v + s2[at - 1] + s2[at - W] - s2[at - W - 1];
            sc[at] = (v == 0 || v == 255) + sc[at - 1] + sc[at - W] - sc[at - W - 1];
        }
    auto box = [&](const auto& t, int x, int y) {
        const size_t a = (size_t)y * W + x, b = a + 5, c = a + 5 * W, e = c + 5;
        return t[e] - t[b] - t[c] + t[a];
    };
    std::vector<BlockInfo> blocks;
    blocks.reserve((size_t)(w - 5) * (h - 5));
    for (int y = 0; y < h - 5; y++)
        for (int x = 0; x < w - 5; x++) {
            if (box(sc, x, y) >= 3) continue;
            const double sum = box(s1, x, y), sum2 = box(s2, x, y);
            blocks.push_back({std::max((sum2 - sum * sum / 25) / 25, 0.0), (long long)y * w + x});
        }
    const long long N = (long long)blocks.size();
    if (N == 0) return 0.0;  // nothing measurable
    auto rank = [&](double p) { return std::clamp<long long>(nearest(p * N), 0, N - 1); };
    // Only the ranks at the slice boundaries matter, not the order inside a slice: the
    // blocks are partitioned at those ranks rather than sorted.
    std::vector<long long> cuts = {rank(0.0005)};
    for (int k = 0; k < 19; k++) {
        const double p_hi = 1 - 0.05 * k;
        double p_lo = p_hi - 0.05;
        if (p_lo < 0.06) p_lo = 0;
        cuts.push_back(rank(p_lo));
        cuts.push_back(std::min(nearest(p_hi * N), N - 1));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    auto by_variance = [](const BlockInfo& a, const BlockInfo& b) { return a.variance < b.variance; };
    long long from = 0;
    for (long long c : cuts) {
        std::nth_element(blocks.begin() + from, blocks.begin() + c, blocks.end(), by_variance);
        from = c + 1;
    }
    const double U = 3.1 * blocks[rank(0.0005)].variance;

    // Per slice: count, sum of block vectors, sum of outer products.
    const int slices = 19, d = 25;
    std::vector<double> count(slices, 0), sum(slices * d, 0), outer((size_t)slices * d * d, 0);
    for (int k = 0; k < slices; k++) {
        const double p_hi = 1 - 0.05 * k;
        double p_lo = p_hi - 0.05;
        if (p_lo < 0.06) p_lo = 0;
        const long long first = rank(p_lo), end = std::min(nearest(p_hi * N), N);
        double vec[25];
        for (long long b = first; b < end; b++) {
            const long long at = blocks[b].index;
            for (int i = 0; i < d; i++) vec[i] = image[at + (i / 5) * w + i % 5];
            count[k]++;
            // The outer product is symmetric: its upper triangle is enough.
            for (int i = 0; i < d; i++) {
                sum[k * d + i] += vec[i];
                double* row = &outer[((size_t)k * d + i) * d];
                for (int j = i; j < d; j++) row[j] += vec[i] * vec[j];
            }
        }
    }
    // Cumulative sets S_k = slices k .. 18, from the largest.
    for (int k = slices - 2; k >= 0; k--) {
        count[k] += count[k + 1];
        for (int i = 0; i < d; i++) sum[k * d + i] += sum[(k + 1) * d + i];
        for (int i = 0; i < d * d; i++) outer[(size_t)k * d * d + i] += outer[(size_t)(k + 1) * d * d + i];
    }
    auto smallest = [&](int k, double* lambda) {
        const double n = count[k];
        double cov[25 * 25];
        for (int i = 0; i < d; i++)
            for (int j = 0; j < d; j++)
                cov[i * d + j] = outer[((size_t)k * d + std::min(i, j)) * d + std::max(i, j)] / n -
                                 (sum[k * d + i] / n) * (sum[k * d + j] / n);
        ComputeEigenvalues(cov, d, lambda);
    };
    double v = U, previous = 0;
    for (int iteration = 0; iteration < 10 && std::fabs(previous - v) >= 1e-6; iteration++) {
        previous = v;
        double next = -1, lambda[25];
        for (int k = 0; k < slices; k++) {
            if (count[k] < 2) continue;  // an empty set says nothing
            smallest(k, lambda);
            if (lambda[0] < 1e-6) {
                next = std::min(lambda[0], U);
                break;
            }
            if (lambda[6] - lambda[0] < 49 * v / std::sqrt(count[k]) && lambda[0] < U) {
                next = lambda[0];
                break;
            }
        }
        if (next < 0) {
            if (count[slices - 1] < 2) return 0.0;
            smallest(slices - 1, lambda);
            next = std::min(lambda[0], U);
        }
        v = next;
    }
    return std::max(v, 0.0);
}
