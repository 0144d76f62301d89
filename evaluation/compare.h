// Comparison of the input and the result of processing with the reference image.
#pragma once

#include <wx/string.h>

// Compares columns x0 .. x1-1 and rows y0 .. y1-1 of sampled_image (the input) and
// processed_image (the result) with ref_image and shows the report in status field 0:
//   "PSNR(dB) %.2lf to %.2lf = %.2lf"  (input, result, improvement; peak 1),
//   "SNR(dB) %.2lf to %.2lf = %.2lf"   for RAW Bayer processing,
//   "SNR (SSIM) %.2lf (%.3lf) to %.2lf (%.3lf)" when show_ssim is on.
// Skipped silently without the three images, with sub-sampling or an empty rectangle.
// Returns the report (empty when skipped).
wxString compare_to_ref(int x0, int y0, int x1, int y1);
