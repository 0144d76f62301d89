// The filter choice table.
#include "processing/filter_dispatch.h"

#include <wx/intl.h>

namespace {
struct filter_entry {
    const char* label;
    void (*run)(const filter_image& img, const filter_params& p, double c);  // c = centile / 100
};

using image = filter_image;
using params = filter_params;

const filter_entry filter_table[FILTER_KINDS] = {
    {wxTRANSLATE("No filtering"), [](const image& i, const params& p, double) { copy_input(i, p); }},
    {wxTRANSLATE("Mean filter"), [](const image& i, const params& p, double) { average_2d(i, p); }},
    {wxTRANSLATE("Gaussian filter"), [](const image& i, const params& p, double) { gauss_2d(i, p); }},
    {wxTRANSLATE("Median filter"), [](const image& i, const params& p, double) { centile_2d(i, p, 0.5); }},
    {wxTRANSLATE("Opening filter"), [](const image& i, const params& p, double c) { centile_2d(i, p, c); }},
    {wxTRANSLATE("Closing filter"), [](const image& i, const params& p, double c) { centile_2d(i, p, 1.0 - c); }},
    {wxTRANSLATE("OCCO filter"), [](const image& i, const params& p, double c) { occo_2d(i, p, c); }},
    {wxTRANSLATE("Grain filter"), [](const image& i, const params& p, double) { grain_2d(i, p); }},
    {wxTRANSLATE("OCCO levelling"), [](const image& i, const params& p, double c) { self_dual_2d(i, p, c, true); }},
    {wxTRANSLATE("Gaussian levelling"),
     [](const image& i, const params& p, double c) { self_dual_2d(i, p, c, false); }},
    {wxTRANSLATE("Image-guided filter"), [](const image& i, const params& p, double) { guided_2d(i, p); }},
    {wxTRANSLATE("Anisotropic filter"), [](const image& i, const params& p, double) { anisotropic_2d(i, p); }},
    {wxTRANSLATE("Bitonic filter"), [](const image& i, const params& p, double c) { bitonic_2d(i, p, c); }},
};
}  // namespace

const char* filter_label(int kind)
{
    return kind >= 0 && kind < FILTER_KINDS ? filter_table[kind].label : nullptr;
}

void run_filter(const filter_image& img, const filter_params& p)
{
    if (p.filter < 0 || p.filter >= FILTER_KINDS) {
        copy_input(img, p);
        return;
    }
    filter_table[p.filter].run(img, p, p.centile / 100.0);
}
