// Row kernels with SIMD forms that more than one filter uses.
#pragma once

// std::round (halves away from zero) of w values in place, four at a time where
// processing_simd allows (the same results either way).
void round_row(double* v, int w);
