// Colour spaces and their conversions.
#include "processing/colour.h"

#include <algorithm>
#include <cmath>
#include <wx/intl.h>

colour_info_t colour_info[COLOUR_SPACES] = {
    {"Grey", {"Grey", "None", "None", "None"},
     {{1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
    {"RGB", {"Red", "Green", "Blue", "None"},
     {{1, 0.3, 0.3}, {0.1, 1, 0.1}, {0.6, 0.6, 1}, {0, 0, 0}}},
    {"HSV", {"Hue", "Saturation", "Value", "None"},
     {{0.1, 1, 0.6}, {1, 0.5, 0.2}, {1, 1, 1}, {0, 0, 0}}},
    {"YCbCr", {"Luminance", "Red Chroma", "Blue Chroma", "None"},
     {{1, 1, 1}, {1, 0.3, 0.3}, {0.6, 0.6, 1}, {0, 0, 0}}},
    {"CIE XYZ", {"Cone response", "Luminance", "Blue", "None"},
     {{1, 0.5, 0.5}, {1, 1, 1}, {0.6, 0.6, 1}, {0, 0, 0}}},
    {"CIE L*a*b", {"Lightness", "Red/Green", "Yellow/Blue", "None"},
     {{1, 1, 1}, {1, 0.5, 0.2}, {0.7, 0.4, 1}, {0, 0, 0}}},
    {"CIE L*C*h", {"Lightness", "Chroma", "Hue", "None"},
     {{1, 1, 1}, {1, 0.5, 0.2}, {0.1, 1, 0.6}, {0, 0, 0}}},
    {"RGB Alpha", {"Red", "Green", "Blue", "Alpha"},
     {{1, 0.3, 0.3}, {0.1, 1, 0.1}, {0.6, 0.6, 1}, {1, 1, 1}}},
    {"RAW Bayer", {"Red", "Green 1", "Blue", "Green 2"},
     {{1, 0.3, 0.3}, {0.1, 1, 0.1}, {0.6, 0.6, 1}, {0.1, 1, 0.1}}},
    {"YUVdG", {"Luminance", "Red Chroma", "Blue Chroma", "Delta Green"},
     {{1, 1, 1}, {1, 0.3, 0.3}, {0.6, 0.6, 1}, {0.1, 1, 0.1}}},
};

// Marks the texts above for the catalogue extractor.
[[maybe_unused]] static const char* const colour_texts[] = {
    wxTRANSLATE("Grey"), wxTRANSLATE("RGB"), wxTRANSLATE("HSV"), wxTRANSLATE("YCbCr"),
    wxTRANSLATE("CIE XYZ"), wxTRANSLATE("CIE L*a*b"), wxTRANSLATE("CIE L*C*h"),
    wxTRANSLATE("RGB Alpha"), wxTRANSLATE("RAW Bayer"), wxTRANSLATE("YUVdG"),
    wxTRANSLATE("None"), wxTRANSLATE("Red"), wxTRANSLATE("Green"), wxTRANSLATE("Blue"),
    wxTRANSLATE("Hue"), wxTRANSLATE("Saturation"), wxTRANSLATE("Value"),
    wxTRANSLATE("Luminance"), wxTRANSLATE("Red Chroma"), wxTRANSLATE("Blue Chroma"),
    wxTRANSLATE("Cone response"), wxTRANSLATE("Lightness"), wxTRANSLATE("Red/Green"),
    wxTRANSLATE("Yellow/Blue"), wxTRANSLATE("Chroma"), wxTRANSLATE("Alpha"),
    wxTRANSLATE("Green 1"), wxTRANSLATE("Green 2"), wxTRANSLATE("Delta Green"),
};

void translate_colour_info()
{
    static bool done = false;
    if (done) return;
    done = true;
    for (colour_info_t& c : colour_info) {
        c.name = wxGetTranslation(c.name);
        for (wxString& n : c.channel_names) n = wxGetTranslation(n);
    }
}

int colour_channels(colour_t c)
{
    if (c == COLOUR_GREY) return 1;
    return (c == COLOUR_RGBA || c == COLOUR_RAW || c == COLOUR_YUVDG) ? 4 : 3;
}

void channel_factor(colour_t c, double* f, colour_t source)
{
    switch (c) {
    case COLOUR_GREY:
        f[0] = (source == COLOUR_RAW || source == COLOUR_YUVDG) ? 0.5 : 0.577;
        return;
    case COLOUR_HSV: f[0] = 0.5; f[1] = 1.26; f[2] = 0.75; return;
    case COLOUR_YCBCR: f[0] = 0.574; f[1] = 0.547; f[2] = 0.577; return;
    case COLOUR_XYZ: f[0] = 0.575; f[1] = 0.75; f[2] = 0.958; return;
    case COLOUR_LAB: f[0] = 0.474; f[1] = 0.513; f[2] = 0.507; return;
    case COLOUR_LCH: f[0] = 0.474; f[1] = 0.336; f[2] = 0.5; return;
    case COLOUR_RGBA:
    case COLOUR_RAW: f[0] = f[1] = f[2] = f[3] = 1.0; return;
    case COLOUR_YUVDG:
        f[0] = 1 / 1.985; f[1] = 1 / 1.596; f[2] = 1 / 1.94; f[3] = 1 / 1.414;
        return;
    default: f[0] = f[1] = f[2] = 1.0; return;  // RGB and anything unknown
    }
}

// ---------------------------------------------------------------------------------------
// Constants of the CIE spaces. RGB is taken as linear (no gamma removal).

static const double k_lab = 16.0 / 116.0;            // 0.13793103448275862
static const double t0 = 0.008856;
static const double t0_cube_root = 0.20689303442296383;
static const double l_threshold = 0.07999624799999999;  // 9.033 x t0
static const double xn = 0.950456, zn = 1.088754;
static const double two_pi = 2.0 * M_PI;

static double lab_f(double t) { return t > t0 ? std::cbrt(t) : 7.787 * t + k_lab; }
static double lab_f_inverse(double f) { return f > t0_cube_root ? f * f * f : (f - k_lab) / 7.787; }

// f(X / Xn), fy, f(Z / Zn) and L of linear r, g, b.
static void rgb_to_lab_f(const double* rgb, double& l, double& fx, double& fy, double& fz)
{
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    const double x = 0.41246 * r + 0.35758 * g + 0.18044 * b;
    const double y = 0.21267 * r + 0.71515 * g + 0.072175 * b;
    const double z = 0.019334 * r + 0.11919 * g + 0.9503 * b;
    if (y > t0) {
        fy = std::cbrt(y);
        l = 1.16 * fy - 0.16;
    } else {
        l = 9.033 * y;
        fy = 7.787 * y + k_lab;
    }
    fx = lab_f(x / xn);
    fz = lab_f(z / zn);
}

// fy of a lightness, and Y.
static double lightness_to_fy(double l, double& y)
{
    if (l > l_threshold) {
        const double fy = (l + 0.16) / 1.16;
        y = fy * fy * fy;
        return fy;
    }
    y = l / 9.033;
    return 7.787 * y + k_lab;
}

static void xyz_to_rgb(double x, double y, double z, double* rgb)
{
    rgb[0] = 3.2404187 * x - 1.537144 * y - 0.498535 * z;
    rgb[1] = -0.9692451 * x + 1.8760117 * y + 0.0415547 * z;
    rgb[2] = 0.0556393 * x - 0.2040226 * y + 1.0572301 * z;
}

// X, Y, Z of L*a*b (c = 5) or L*C*h (c = 6) values.
static void lab_to_xyz(const double* in, colour_t c, double& x, double& y, double& z)
{
    const double fy = lightness_to_fy(in[0], y);
    double fx, fz;
    if (c == COLOUR_LAB) {
        fx = (in[1] - 0.5) * 0.44 + fy;
        fz = fy - (in[2] - 0.5) * 1.1;
    } else {
        const double angle = (in[2] - 0.5) * two_pi;
        fx = fy + 0.31 * in[1] * std::cos(angle);
        fz = fy - 0.775 * in[1] * std::sin(angle);
    }
    x = xn * lab_f_inverse(fx);
    z = zn * lab_f_inverse(fz);
}

// HSV hue reduced into [0, 0.996) (written back), its fraction within the sextant and
// the sextant number 0..5.
static void hsv_sextant(double* in, double& f, int& sextant)
{
    double h = in[0];
    if (h >= 0.996) {
        h -= 0.996;
        in[0] = h;
    }
    const double q = h / 0.166;
    f = q - std::floor(q);
    sextant = h < 0.166 ? 0 : h < 0.332 ? 1 : h < 0.498 ? 2 : h < 0.664 ? 3 : h < 0.83 ? 4 : 5;
}

// Y', U', V' of YUVdG, the common part of to_rgb and to_raw.
static void yuv_scaled(const double* in, double& y, double& u, double& v)
{
    y = 1.985 * in[0];
    u = (in[1] - 0.497494) * 1.596;
    v = (in[2] - 0.437113) * 1.94;
}

// R, G1, B, G2 of YUVdG values before any clamping.
static void yuvdg_to_raw_unclamped(const double* in, double* raw)
{
    double y, u, v;
    yuv_scaled(in, y, u, v);
    const double d = (in[3] - 0.5) * 1.414 * 0.707214;
    const double gm = 0.436178 * y + 0.107252 * u + 0.54643 * v;
    raw[0] = 0.540931 * y - 0.794876 * u - 0.276179 * v;
    raw[1] = gm + d;
    raw[2] = 0.571695 * y + 0.588294 * u - 0.571807 * v;
    raw[3] = gm - d;
}

// Y, U, V, dG of R, G1, B, G2 before any clamping.
static void raw_to_yuvdg_unclamped(const double* raw, double* out)
{
    const double r = raw[0], g = raw[1] + raw[3], b = raw[2];
    out[0] = (0.541 * r + 0.436 * g + 0.572 * b) / 1.985;
    out[1] = (-0.794 * r + 0.107 * g + 0.588 * b) / 1.596 + 0.497494;
    out[2] = (-0.276 * r + 0.546 * g - 0.572 * b) / 1.94 + 0.437113;
    out[3] = (raw[1] - raw[3]) * 0.707 / 1.414 + 0.5;
}

static double clamp01(double v) { return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v; }

// ---------------------------------------------------------------------------------------
// Per-pixel conversions.

int from_rgb(double* rgb, double* out, colour_t c)
{
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    switch (c) {
    case COLOUR_HSV: {
        const double mx = std::max(r, std::max(g, b));
        const double mn = std::min(r, std::min(g, b));
        const double d = mx - mn;
        out[2] = mx;
        if (d == 0) {
            out[0] = out[1] = 0.0;
        } else {
            // Only negative input can make the maximum non-positive; its saturation is 0.
            out[1] = mx > 0 ? d / mx : 0.0;
            // The hue uses 0.166 per sextant, not 1/6; ties go to red, then green.
            if (r == mx)
                out[0] = (g - b) * 0.166 / d + (b > g ? 0.996 : 0.0);
            else if (g == mx)
                out[0] = 0.332 + (b - r) * 0.166 / d;
            else
                out[0] = (r - g) * 0.166 / d + 0.664;
        }
        break;
    }
    case COLOUR_YCBCR:
        out[0] = 0.2568 * r + 0.5041 * g + 0.0979 * b + 16.0 / 255.0;
        out[1] = -0.1482 * r - 0.291 * g + 0.4392 * b + 128.0 / 255.0;
        out[2] = 0.4392 * r - 0.3678 * g - 0.0714 * b + 128.0 / 255.0;
        break;
    case COLOUR_XYZ:
        out[0] = 0.41246 * r + 0.35758 * g + 0.18044 * b;
        out[1] = 0.21267 * r + 0.71515 * g + 0.072175 * b;
        out[2] = 0.019334 * r + 0.11919 * g + 0.9503 * b;
        break;
    case COLOUR_LAB: {
        double l, fx, fy, fz;
        rgb_to_lab_f(rgb, l, fx, fy, fz);
        out[0] = l;
        out[1] = 2.272727272727273 * (fx - fy) + 0.5;
        out[2] = 0.9090909090909091 * (fy - fz) + 0.5;
        break;
    }
    case COLOUR_LCH: {
        double l, fx, fy, fz;
        rgb_to_lab_f(rgb, l, fx, fy, fz);
        const double x = 3.225806451612903 * (fx - fy);
        const double y = 1.2903225806451613 * (fy - fz);
        out[0] = l;
        out[1] = std::sqrt(x * x + y * y);
        out[2] = std::atan2(y, x) / two_pi + 0.5;
        break;
    }
    default:
        return 0;
    }
    for (int k = 0; k < 3; k++)
        if (out[k] < 0) out[k] = 0.0;
    return 1;
}

int to_rgb(double* in, double* rgb, colour_t c)
{
    switch (c) {
    case COLOUR_HSV: {
        double f;
        int sextant;
        hsv_sextant(in, f, sextant);
        const double s = in[1], v = in[2];
        const double p = v * (1 - s), q = v * (1 - f * s), t = v * (1 - (1 - f) * s);
        switch (sextant) {
        case 0: rgb[0] = v; rgb[1] = t; rgb[2] = p; break;
        case 1: rgb[0] = q; rgb[1] = v; rgb[2] = p; break;
        case 2: rgb[0] = p; rgb[1] = v; rgb[2] = t; break;
        case 3: rgb[0] = p; rgb[1] = q; rgb[2] = v; break;
        case 4: rgb[0] = t; rgb[1] = p; rgb[2] = v; break;
        default: rgb[0] = v; rgb[1] = p; rgb[2] = q; break;
        }
        break;
    }
    case COLOUR_YCBCR: {
        const double y = (in[0] - 16.0 / 255.0) * 1.1644;
        const double u = in[1] - 128.0 / 255.0, v = in[2] - 128.0 / 255.0;
        rgb[0] = y + 1.596 * v;
        rgb[1] = y - 0.3918 * u - 0.813 * v;
        rgb[2] = y + 2.0172 * u;
        break;
    }
    case COLOUR_XYZ:
        xyz_to_rgb(in[0], in[1], in[2], rgb);
        break;
    case COLOUR_LAB:
    case COLOUR_LCH: {
        double x, y, z;
        lab_to_xyz(in, c, x, y, z);
        xyz_to_rgb(x, y, z, rgb);
        break;
    }
    case COLOUR_RGBA:
        rgb[0] = in[0] * in[3];
        rgb[1] = in[1] * in[3];
        rgb[2] = in[2] * in[3];
        break;
    case COLOUR_RAW:
        rgb[0] = in[0];
        rgb[1] = (in[1] + in[3]) / 2;
        rgb[2] = in[2];
        break;
    case COLOUR_YUVDG: {
        double y, u, v;
        yuv_scaled(in, y, u, v);
        rgb[0] = 0.540931 * y - 0.794876 * u - 0.276179 * v;
        rgb[1] = 0.436178 * y + 0.107252 * u + 0.54643 * v;  // mean of the two greens
        rgb[2] = 0.571695 * y + 0.588294 * u - 0.571807 * v;
        break;
    }
    default:
        return 0;
    }
    for (int k = 0; k < 3; k++) rgb[k] = clamp01(rgb[k]);
    return 1;
}

int from_raw(double* raw, double* out, colour_t c)
{
    if (c != COLOUR_YUVDG) return 0;
    raw_to_yuvdg_unclamped(raw, out);
    for (int k = 0; k < 4; k++)
        if (out[k] < 0) out[k] = 0.0;
    return 1;
}

int to_raw(double* in, double* raw, colour_t c)
{
    if (c != COLOUR_YUVDG) return 0;
    yuvdg_to_raw_unclamped(in, raw);
    for (int k = 0; k < 4; k++)
        if (raw[k] < 0) raw[k] = 0.0;
    return 1;
}

int to_grey(double* in, double& grey, colour_t c)
{
    double g;
    switch (c) {
    case COLOUR_RGB:
    case COLOUR_RGBA:
        g = (in[0] + in[1] + in[2]) / 3;
        break;
    case COLOUR_HSV: {
        double f;
        int sextant;
        hsv_sextant(in, f, sextant);
        const double s = in[1], v = in[2];
        g = (sextant % 2 == 0) ? v * (3 - (2 - f) * s) / 3 : v * (3 - (1 + f) * s) / 3;
        break;
    }
    case COLOUR_YCBCR:
        g = (in[0] - 16.0 / 255.0) * 1.1644 + (in[1] - 128.0 / 255.0) * 0.5418 +
            (in[2] - 128.0 / 255.0) * 0.261;
        break;
    case COLOUR_XYZ:
        g = 0.77560432 * in[0] + 0.04494835 * in[1] + 0.20008328 * in[2];
        break;
    case COLOUR_LAB:
    case COLOUR_LCH: {
        double x, y, z;
        lab_to_xyz(in, c, x, y, z);
        g = 0.77560432 * x + 0.04494835 * y + 0.20008328 * z;
        break;
    }
    case COLOUR_RAW:
        g = (in[0] + in[1] + in[2] + in[3]) / 4;
        break;
    case COLOUR_YUVDG: {
        double raw[4];
        yuvdg_to_raw_unclamped(in, raw);
        g = (raw[0] + raw[1] + raw[2] + raw[3]) / 4;
        break;
    }
    default:
        return 0;
    }
    grey = clamp01(g);
    return 1;
}

// ---------------------------------------------------------------------------------------
// Whole-image conversions.

// A non-negative level as a stored sample; (int) truncates, as everywhere in the record.
static inline int quantise(double level) { return (int)(level + 0.5) * 16; }
static inline int non_negative_sample(double level) { return level < 0 ? 0 : quantise(level); }

static bool valid_size(int width, int height) { return width >= 1 && height >= 1; }

int from_rgb(int* image, int width, int height, colour_t c)
{
    if (!valid_size(width, height) || c < COLOUR_HSV || c > COLOUR_LCH) return 0;
    double f[4];
    channel_factor(c, f, COLOUR_RGB);
    const size_t pixels = (size_t)width * height;
    for (size_t i = 0; i < pixels; i++) {
        int* p = image + i * 3;
        double rgb[3], out[3];
        for (int k = 0; k < 3; k++) rgb[k] = (p[k] / 16) / 255.0;
        if (!from_rgb(rgb, out, c)) return 0;
        for (int k = 0; k < 3; k++) p[k] = quantise(out[k] * 255 / f[k]);
    }
    return 1;
}

int from_raw(int* image, int width, int height, colour_t c)
{
    if (!valid_size(width, height) || c != COLOUR_YUVDG) return 0;
    double f[4];
    channel_factor(c, f, COLOUR_RAW);
    const size_t pixels = (size_t)width * height;
    for (size_t i = 0; i < pixels; i++) {
        int* p = image + i * 4;
        double raw[4], out[4];
        for (int k = 0; k < 4; k++) raw[k] = (p[k] / 16) / 4095.0;
        raw_to_yuvdg_unclamped(raw, out);
        for (int k = 0; k < 4; k++) p[k] = non_negative_sample(out[k] * 4095 / f[k]);
    }
    return 1;
}

int to_raw(int* image, int width, int height, colour_t c)
{
    if (!valid_size(width, height) || c != COLOUR_YUVDG) return 0;
    double f[4];
    channel_factor(c, f, COLOUR_RAW);
    const size_t pixels = (size_t)width * height;
    for (size_t i = 0; i < pixels; i++) {
        int* p = image + i * 4;
        double in[4], raw[4];
        for (int k = 0; k < 4; k++) in[k] = (p[k] / 16) * f[k] / 4095;
        yuvdg_to_raw_unclamped(in, raw);
        for (int k = 0; k < 4; k++) p[k] = non_negative_sample(raw[k] * 4095);
    }
    return 1;
}

static double full_scale(colour_t c) { return (c == COLOUR_RAW || c == COLOUR_YUVDG) ? 4095 : 255; }

// Window applied by the display to values already in 0..1.
static inline double window_level(double v, double m, int range, int centre)
{
    return (v - centre / m) / (range / m) + 0.4980392156862745;
}

int to_rgb(int* image, int width, int height, colour_t c, int range, int centre)
{
    if (!valid_size(width, height) || c < COLOUR_HSV || c > COLOUR_YUVDG) return 0;
    const int n = colour_channels(c);
    const double m = full_scale(c);
    double f[4];
    channel_factor(c, f, c);
    const size_t pixels = (size_t)width * height;
    // The output stride of 3 never overtakes the input stride of 3 or 4.
    for (size_t i = 0; i < pixels; i++) {
        const int* p = image + i * n;
        double in[4], rgb[3];
        for (int k = 0; k < n; k++) in[k] = (p[k] / 16) * f[k] / m;
        to_rgb(in, rgb, c);
        int* o = image + i * 3;
        for (int k = 0; k < 3; k++) {
            const double v = range > 0 ? window_level(rgb[k], m, range, centre) : rgb[k];
            o[k] = quantise(v * 255);
        }
    }
    return 1;
}

int to_rgb(unsigned char* image, int width, int height, colour_t c, int range, int centre)
{
    if (!valid_size(width, height) || c < COLOUR_HSV || c > COLOUR_YUVDG) return 0;
    const int n = colour_channels(c);
    const double m = full_scale(c);
    double f[4];
    channel_factor(c, f, c);
    const size_t pixels = (size_t)width * height;
    for (size_t i = 0; i < pixels; i++) {
        const unsigned char* p = image + i * n;
        double in[4], rgb[3];
        for (int k = 0; k < n; k++) in[k] = p[k] * f[k] / m;
        to_rgb(in, rgb, c);
        unsigned char* o = image + i * 3;
        for (int k = 0; k < 3; k++) {
            const double v = range > 0 ? window_level(rgb[k], m, range, centre) : rgb[k];
            // Bytes cannot hold the windowed values beyond black and white.
            o[k] = (unsigned char)std::clamp((int)(v * 255 + 0.5), 0, 255);
        }
    }
    return 1;
}

int to_grey(int* in, int width, int height, colour_t c, int* out, bool scaled)
{
    if (!valid_size(width, height) || c < COLOUR_RGB || c > COLOUR_YUVDG) return 0;
    const int n = colour_channels(c);
    const double m = full_scale(c);
    double f[4];
    channel_factor(c, f, c);
    const bool raw = c == COLOUR_RAW || c == COLOUR_YUVDG;
    const double divisor = scaled ? (raw ? 0.5 : 0.577) : 1.0;
    const size_t pixels = (size_t)width * height;
    for (size_t i = 0; i < pixels; i++) {
        const int* p = in + i * n;
        double v[4], grey;
        for (int k = 0; k < n; k++) v[k] = (p[k] / 16) * f[k] / m;
        to_grey(v, grey, c);
        out[i] = quantise(grey * m / divisor);
    }
    return 1;
}
