// The filter choice table.
#include "processing/filter_dispatch.h"

#include <wx/intl.h>

#include "core/record.h"
#include "processing/filter_entries.h"

namespace {
struct filter_entry {
    const char* label;
    void (*run)(double c);  // c = centile / 100
};

const filter_entry filter_table[FILTER_KINDS] = {
    {wxTRANSLATE("No filtering"), [](double) { copy_sampled_to_processed(); }},
    {wxTRANSLATE("Mean filter"), [](double) { average_2d(); }},
    {wxTRANSLATE("Gaussian filter"), [](double) { gauss_2d(); }},
    {wxTRANSLATE("Median filter"), [](double) { centile_2d(0.5); }},
    {wxTRANSLATE("Opening filter"), [](double c) { centile_2d(c); }},
    {wxTRANSLATE("Closing filter"), [](double c) { centile_2d(1.0 - c); }},
    {wxTRANSLATE("OCCO filter"), [](double c) { occo_2d(c); }},
    {wxTRANSLATE("Grain filter"), [](double) { grain_2d(); }},
    {wxTRANSLATE("OCCO levelling"), [](double c) { self_dual_2d(c, 1); }},
    {wxTRANSLATE("Gaussian levelling"), [](double c) { self_dual_2d(c, 0); }},
    {wxTRANSLATE("Image-guided filter"), [](double) { guided_2d(info.level); }},
    {wxTRANSLATE("Anisotropic filter"), [](double) { anisotropic_2d(); }},
    {wxTRANSLATE("Bitonic filter"), [](double c) { bitonic_2d(c); }},
};
}  // namespace

const char* filter_label(int kind)
{
    return kind >= 0 && kind < FILTER_KINDS ? filter_table[kind].label : nullptr;
}

bool filter_available()
{
    const int kind = info.filter;
    return kind >= 0 && kind < FILTER_KINDS;
}

void run_filter()
{
    const int kind = info.filter;
    if (kind < 0 || kind >= FILTER_KINDS) {
        copy_sampled_to_processed();
        return;
    }
    filter_table[kind].run(info.centile / 100.0);
}
