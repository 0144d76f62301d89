// What the CT routines run with: the settings of the simulated acquisition and of the
// metal-artefact correction, and the projection line that turns about the slice. The
// whole-image entry points (metal_pipeline.cpp, rsq_file.cpp) fill them from the record;
// everything below takes them as arguments.
#pragma once

#include <cstdint>
#include <vector>

// The simulated acquisition: how densely the line is sampled, how many angles, the ramp's
// window and the detection noise.
struct recon_params {
    int64_t scale = 100;   // samples along the line, percent of one per pixel
    int64_t angle = 100;   // angles, percent of about one per pixel of arc
    int64_t filter = 100;  // ramp window, 1 .. 100 (100 none)
    int64_t noise = 0;     // detection noise in dB (0 none)
    uint64_t seed = 1;     // seed of the detection noise
};

// The metal-artefact correction: the method, its thresholds and the run it is in.
struct mar_params {
    recon_params recon;
    bool recon_only = false;                       // project and reconstruct, nothing corrected
    bool li = false, nmar = false, rmar = true;    // the method's parts
    int hardening = 3;                             // degree of the refined correction's fit
    bool predict_back = false;                     // the predict-background pass
    int iteration = 0;                             // the iteration about to run, from 0
    int threshold = 2800;                          // metal (source units)
    int air = -500;                                // air (source units)
    int smooth = 8;                                // the fine residual's scale, pixels
    bool neighbours = true;                        // neighbouring frames' metal counts
    int trace_pad[2] = {1, 1};                     // interpolation pad; runs closer than 2 x sum join
    double beam_hardening[3] = {10.0, 0.1, 10.0};  // path unit, ridge, tissue unit
    int data_min = -1000, data_max = 3000;         // the data range (source units)
    int subsample = 1;                             // source pixels per processed pixel
    bool sinogram = false;                         // the "Sinogram" view (raw-data load mode 0)
};

// The projection line at angle 0 and how it is sampled; angle i turns it by i pi / angles
// about its centre.
struct mdt_line {
    int w = 0, h = 0;              // the slice, processed pixels
    double cx = 0, cy = 0, R = 0;  // centre and half-length, processed pixels
    int L = 0;                     // samples along the line
    int angles = 1;                // angles over half a turn
    int margins[2] = {0, 0};       // samples left unprojected at each end
    std::vector<double> ramp;      // the ramp filter; its length is the FFT's
};
