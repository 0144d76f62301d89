#include "ct/fft.h"

#include <cmath>

void my_fft(std::valarray<std::complex<double>>& x)
{
    const size_t n = x.size();
    if (n < 2 || (n & (n - 1)) != 0) return;
    // Decimation in frequency: butterflies of halving span, twiddles by repeated products.
    const double theta = 3.14159265358979323846 / (double)n;
    std::complex<double> phi(std::cos(theta), std::sin(theta));
    for (size_t k = n; k > 1;) {
        const size_t m = k;
        k >>= 1;
        phi = phi * phi;
        std::complex<double> t_factor = 1.0;
        for (size_t l = 0; l < k; l++) {
            for (size_t a = l; a < n; a += m) {
                const size_t b = a + k;
                const std::complex<double> t = x[a] - x[b];
                x[a] += x[b];
                x[b] = t * t_factor;
            }
            t_factor *= phi;
        }
    }
    // Bit-reversed order back to natural order.
    unsigned bits = 0;
    while (((size_t)1 << bits) < n) bits++;
    for (size_t a = 0; a < n; a++) {
        size_t b = 0;
        for (unsigned i = 0; i < bits; i++) b |= ((a >> i) & 1) << (bits - 1 - i);
        if (b > a) std::swap(x[a], x[b]);
    }
}

void my_ifft(std::valarray<std::complex<double>>& x)
{
    if (x.size() == 0) return;
    x = x.apply(std::conj);
    my_fft(x);
    x = x.apply(std::conj);
    x /= (double)x.size();
}
