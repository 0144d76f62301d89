// The beam-hardening model of the refined correction, fitted to the trace of every angle.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "ct/ct_params.h"
#include "ct/metal_trace.h"

// The beam-hardening fit of the refined (RMAR) correction: the deviation of the trace
// from the interpolated background, d = p - LI(p), modelled over every trace sample of
// every angle as c1 x + c2 x^2 + ... + cH x^H + cT x t, with x the metal path in units of
// beam_hardening[0] pixels and t the tissue path in units of beam_hardening[0] x
// beam_hardening[2] pixels; beam_hardening[1] holds the non-linear terms back (ridge,
// relative to the fit's own scale). Degree 0 or 1 fits the linear term only.
struct hardening_fit {
    int degree = 0;
    std::vector<double> c;   // c[0] = c1 ... c[H-1] = cH, then cT when degree >= 2
    double x_max = 0;        // the largest x fitted; the model is not extrapolated past it
    // Accumulated normal equations.
    std::vector<double> ata, atb;
    void begin(int degree);
    void add(double x, double t, double d);
    // `ridge` (beam_hardening[1]) holds the non-linear terms back.
    void solve(double ridge);
    // The non-linear part (what hardening adds beyond the metal's linear attenuation).
    double nonlinear(double x, double t) const;
    double linear(double x) const { return c.empty() ? 0.0 : c[0] * std::min(x, x_max); }
};

// Adds every trace sample of one line (its deviation and path lengths) to the fit.
void add_to_fit(hardening_fit& fit, const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                const mar_params& p);

// The path units of the hardening model for the beam_hardening parameters.
double hardening_x(const line_samples& s, int i, const mar_params& p);
double hardening_t(const line_samples& s, int i, const mar_params& p);
