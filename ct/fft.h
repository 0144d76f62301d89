// The radix-2 FFT of the reconstruction and of the metal-artefact correction.
#pragma once

#include <complex>
#include <valarray>

// In-place transform with the kernel exp(+2 pi i j n / N) of a power-of-two length (any
// other length, 0 and 1 are left as they are).
void my_fft(std::valarray<std::complex<double>>& x);

// The inverse of my_fft: conjugate, transform, conjugate, divide by the length. An
// empty array is left as it is.
void my_ifft(std::valarray<std::complex<double>>& x);
