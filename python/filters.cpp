// The filters over numpy arrays: the pipeline's sampling and filtering (commands/filter_run.h)
// on planes of the module's own, without the record, with the GIL released.
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "commands/filter_choice.h"
#include "commands/filter_run.h"
#include "evaluation/ssim.h"
#include "processing/colour.h"
#include "processing/noise_variance.h"
#include "filter_settings.h"
#include "module_support.h"

void settings_of(const py::dict& d, filter_settings& s)
{
    auto get = [&](const char* key, int& field, long lo, long hi) {
        if (!d.contains(key)) return;
        const py::object v = d[key];
        if (v.is_none()) return;
        if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
            throw py::type_error(std::string(key) + " must be an integer");
        const long long x = v.cast<long long>();
        if (x < lo || x > hi)
            throw py::value_error(std::string(key) + " must be between " + std::to_string(lo) + " and " +
                                  std::to_string(hi) + ", not " + std::to_string(x));
        field = (int)x;
    };
    // The ranges of the batch tool's options (batch/pipeline_options.cpp).
    get("filter", s.filter, FILTER_NONE, FILTER_KINDS - 1);
    get("size", s.size, 0, 100);
    get("centile", s.centile, 0, 100);
    get("level", s.level, 0, 1000000);
    get("use_level", s.use_level, 0, 1);
    get("levelling", s.levelling, 0, 1);
    get("multires", s.multires, 1, 20);
    get("mask", s.mask, 0, MASK_KINDS - 1);
    get("angle", s.angle, -360, 360);
    get("noise", s.noise, 0, 2);
    get("anisotropy", s.anisotropy, 0, 100);
    get("colour", s.colour, 0, COLOUR_SPACES - 1);
    get("subsample", s.subsample, 1, 64);
    get("subsample_filter", s.subsample_filter, 0, 1);
}

filter_params params_of(const filter_settings& s, int data_colour, pyramid_params& pyramid)
{
    filter_params p;
    p.filter = s.filter;
    p.filter_size = s.size;
    p.level = s.level;
    p.use_level = s.use_level != 0;
    p.levelling = s.levelling != 0;
    p.mask = s.mask;
    p.angle = s.angle;
    p.noise_kind = s.noise;
    p.noise_colour = s.noise != 0 && data_colour == COLOUR_RGB;
    p.filter_iterate = s.multires >= 1;
    p.restrict_kind = 2;
    p.interpolate_kind = 2;
    p.rank_histogram = true;
    // The window's defaults (centile 4, anisotropy 6, divisors 24) brought in line with the
    // filter choice as the window does.
    choice_fields f{s.centile >= 0 ? s.centile : 4, 6, 24, 24};
    follow_filter_choice(s.filter, s.mask, f);
    p.centile = f.centile;
    p.centile_alt = s.anisotropy >= 0 ? s.anisotropy : f.centile_alt;
    pyramid.levels = s.multires >= 1 ? s.multires : 5;
    pyramid.first_divisor = f.first_divisor;
    pyramid.later_divisor = f.later_divisor;
    return p;
}

namespace {

int data_colour_of(const array_samples& in) { return in.channels == 3 ? COLOUR_RGB : COLOUR_GREY; }

// The loaders' range: the largest sample over 16, truncated as they do.
int data_max_of(const std::vector<int>& samples)
{
    int hi = INT_MIN;
    for (int v : samples) hi = std::max(hi, v);
    return hi / 16;
}

py::array filter_array(const py::array& image, const py::dict& d)
{
    array_samples in = samples_of(image);
    filter_settings s;
    settings_of(d, s);
    const int data_colour = data_colour_of(in);
    const int colour = s.colour >= 0 ? s.colour : data_colour;
    if (!colour_allowed(data_colour, colour))
        throw py::value_error("colour " + std::to_string(colour) + " is not offered for " +
                              (data_colour ? "RGB" : "grey") + " images");
    if (in.width / s.subsample < 1 || in.height / s.subsample < 1)
        throw py::value_error("sub-sampling by " + std::to_string(s.subsample) + " leaves no pixel");
    sampled_plane sampled;
    std::vector<int> out;
    int planes = 1;
    {
        py::gil_scoped_release unlocked;
        sampling_params sp;
        sp.width = in.width;
        sp.height = in.height;
        sp.data_colour = data_colour;
        sp.channels = in.channels;
        sp.colour = colour;
        sp.subsample = s.subsample;
        sp.subsample_filter = s.subsample_filter != 0;
        sampled = sample_plane(in.samples.data(), sp);
        pyramid_params pyramid;
        filter_params p = params_of(s, data_colour, pyramid);
        p.colour = colour;
        p.channels = in.channels;
        p.colour_processing = sampled.colour_processing;
        p.data_max = sampled.converted ? sampled.hi : data_max_of(in.samples);
        planes = p.planes();
        const size_t count = (size_t)sampled.w * sampled.h;
        out.resize(count * planes);
        std::vector<int> noise(p.levelling ? count : 0, 0);
        filter_sampled(filter_image{sampled.samples.get(), out.data(), sampled.w, sampled.h}, p,
                       noise.empty() ? nullptr : noise.data(), pyramid);
    }
    return array_of(out.data(), sampled.w, sampled.h, planes, false);
}

// Grey levels of an image as the batch tool's noise verb takes them.
std::vector<int> grey_levels(const array_samples& in)
{
    std::vector<int> levels((size_t)in.width * in.height);
    if (in.channels == 1) {
        for (size_t i = 0; i < levels.size(); i++) levels[i] = in.samples[i] / 16;
    } else {
        std::vector<int> copy(in.samples);
        to_grey(copy.data(), in.width, in.height, COLOUR_RGB, levels.data(), true);
        for (int& v : levels) v /= 16;
    }
    return levels;
}

double estimate_noise(const py::array& image)
{
    array_samples in = samples_of(image);
    py::gil_scoped_release unlocked;
    std::vector<int> levels = grey_levels(in);
    return std::sqrt(EstimateNoiseVariance(levels.data(), in.width, in.height));
}

// The comparison of the batch tool's compare verb for grey and RGB data processed in their
// own space: errors in full-scale fractions (`full` levels), the reference range r.
struct comparison {
    array_samples image, ref;
    double scale = 1, offset = 0;
};

comparison compared(const py::array& image, const py::array& reference, double full, double r)
{
    comparison c{samples_of(image, "image"), samples_of(reference, "reference")};
    if (c.image.width != c.ref.width || c.image.height != c.ref.height || c.image.channels != c.ref.channels)
        throw py::value_error("image and reference must have the same shape");
    if (!(full > 0) || !(r > 0)) throw py::value_error("data_range and ref_range must be positive");
    c.scale = 1.0 / (16 * full) / r;
    c.offset = (1 - r) / 2 / r;
    return c;
}

double psnr(const py::array& image, const py::array& reference, double full, double r)
{
    comparison c = compared(image, reference, full, r);
    py::gil_scoped_release unlocked;
    double e = 0;
    for (size_t i = 0; i < c.image.samples.size(); i++) {
        const double d = (c.image.samples[i] - c.ref.samples[i]) * c.scale;
        e += d * d;
    }
    return -10 * std::log10(e / c.image.samples.size());
}

double ssim_mean(const py::array& image, const py::array& reference, double full, double r)
{
    comparison c = compared(image, reference, full, r);
    py::gil_scoped_release unlocked;
    const int w = c.image.width, h = c.image.height, n = c.image.channels;
    const size_t m = (size_t)w * h;
    std::vector<int> pr(m), pi(m), map(m);
    auto byte = [](double v) {
        const double b = std::trunc(v * 255 + 0.5);
        return (int)(b < 0 ? 0 : b > 255 ? 255 : b);
    };
    double sum = 0;
    for (int k = 0; k < n; k++) {
        for (size_t j = 0; j < m; j++) {
            pr[j] = byte(c.ref.samples[j * n + k] * c.scale - c.offset);
            pi[j] = byte(c.image.samples[j * n + k] * c.scale - c.offset);
        }
        ssim(pr.data(), pi.data(), w, h, map.data(), nullptr, nullptr);
        for (size_t j = 0; j < m; j++) sum += map[j];
    }
    return sum / ((double)m * n) / 4080;
}

}  // namespace

void register_filters(py::module_& m)
{
    m.def("_filter", &filter_array, py::arg("image"), py::arg("settings"));
    m.def("_estimate_noise", &estimate_noise, py::arg("image"));
    m.def("_psnr", &psnr, py::arg("image"), py::arg("reference"), py::arg("data_range"), py::arg("ref_range"));
    m.def("_ssim", &ssim_mean, py::arg("image"), py::arg("reference"), py::arg("data_range"),
          py::arg("ref_range"));
}
