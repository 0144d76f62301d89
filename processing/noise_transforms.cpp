// Gamma curves and the generalised Anscombe transform.
#include "processing/noise_transforms.h"

#include <algorithm>
#include <cmath>

namespace {

struct layout {
    int channels;
    double full;
    bool gamma;
};

layout layout_of(colour_t space)
{
    switch (space) {
    case COLOUR_GREY: return {1, 255, true};
    case COLOUR_RGB: return {3, 255, true};
    case COLOUR_RGBA: return {4, 255, false};
    case COLOUR_RAW:
    case COLOUR_YUVDG: return {4, 4095, false};
    default: return {3, 255, false};
    }
}

// The encoding curve's linear toe: slope and threshold (the sRGB constants for 2.4).
void toe(double gamma, double& slope, double& threshold)
{
    if (std::fabs(gamma - 2.4) < 1e-12) {
        slope = 12.92;
        threshold = 0.0031308;
        return;
    }
    slope = std::pow(1.055, gamma) * std::pow(gamma - 1, gamma - 1) /
            (std::pow(0.055, gamma - 1) * std::pow(gamma, gamma));
    threshold = 0.055 / (gamma - 1) / slope;
}

double decode(double v, double gamma, double slope, double threshold)
{
    if (v < threshold * 255 * slope) return v / slope;
    return std::pow((v + 14.025) / (1.055 * std::pow(255.0, 1 - 1 / gamma)), gamma);
}

double encode(double x, double gamma, double slope, double threshold)
{
    if (x < threshold * 255) return x * slope;
    return 1.055 * std::pow(255.0, 1 - 1 / gamma) * std::pow(std::max(x, 0.0), 1 / gamma) - 14.025;
}

struct anscombe {
    double a, q4, scale;
    anscombe(double gain, double sigma, double offset, double full)
    {
        a = gain;
        const double s = sigma / gain;
        q4 = std::max(4 * (s * s + 0.375 - offset / gain), 0.0);
        const double span = std::sqrt(q4 + 4 * full / gain) - std::sqrt(q4);
        scale = span > 0 ? full / span : 0.0;
    }
    double forward(double x) const { return (std::sqrt(std::max(x * 4 / a + q4, 0.0)) - std::sqrt(q4)) * scale; }
    double inverse(double y) const
    {
        if (scale <= 0) return y;
        const double t = y / scale + std::sqrt(q4);
        return (t * t - q4) * a / 4;
    }
};

int store(double level) { return (int)std::floor(level * 16 + 0.5); }

}  // namespace

namespace {

// Both directions over the samples of the space: forward decodes the gamma and then
// stabilises, backward undoes the stabilisation and then encodes.
bool transform(int* image, int width, int height, colour_t space, double gamma, double gain, double sigma,
               double offset, bool forward)
{
    if (!image || width < 1 || height < 1) return false;
    const layout l = layout_of(space);
    const size_t count = (size_t)width * height * l.channels;
    double slope = 1, threshold = 0;
    const bool curve = l.gamma && gamma > 1;
    if (curve) toe(gamma, slope, threshold);
    const bool stabilise = gain > 0;
    const anscombe t(stabilise ? gain : 1, sigma, offset, l.full);
    for (size_t i = 0; i < count; i++) {
        double x = image[i] / 16.0;
        if (forward) {
            if (curve) x = decode(x, gamma, slope, threshold);
            if (stabilise) x = t.forward(x);
        } else {
            if (stabilise) x = t.inverse(x);
            if (curve) x = encode(x, gamma, slope, threshold);
        }
        image[i] = store(x);
    }
    return true;
}

}  // namespace

bool inverse_gamma_and_apply_anscombe(int* image, int width, int height, colour_t space,
                                      double gamma, double gain, double sigma, double offset)
{
    return transform(image, width, height, space, gamma, gain, sigma, offset, true);
}

bool inverse_anscombe_and_apply_gamma(int* image, int width, int height, colour_t space,
                                      double gamma, double gain, double sigma, double offset)
{
    return transform(image, width, height, space, gamma, gain, sigma, offset, false);
}

bool threshold_for_inverse_gamma(int* image, int* threshold, int width, int height, double gamma)
{
    if (!image || !threshold || width < 1 || height < 1) return false;
    if (gamma <= 1) return true;
    double slope, toe_threshold;
    toe(gamma, slope, toe_threshold);
    const size_t count = (size_t)width * height;
    for (size_t i = 0; i < count; i++) {
        const int T = threshold[i];
        if (T == 0) continue;
        const double v = image[i] / 16.0;
        const double lo = std::clamp(v - T, 0.0, 255.0), hi = std::clamp(v + T, 0.0, 255.0);
        if (hi <= lo) continue;
        const double mapped = decode(hi, gamma, slope, toe_threshold) - decode(lo, gamma, slope, toe_threshold);
        threshold[i] = (int)std::lround(T * mapped / (hi - lo));
    }
    return true;
}
