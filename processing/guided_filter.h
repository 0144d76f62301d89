// The self-guided (image-guided) filter of one plane.
#pragma once

// out = (I / 16) x mean(a) + mean(b) over the circular mask of radius r, where per pixel
// a = 16 var / (var + epsilon^2) (sixteenths) and b = (16 - a) mu / 16 from the local
// mean mu and variance var of the levels. Squares and their means are 64-bit, so 16-bit
// data cannot overflow. With r or epsilon 0, or r beyond half the width or height, the
// output is a copy of the input.
void guided_filter(int* in, int width, int height, int r, int epsilon, int* out);
