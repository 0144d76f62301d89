#include "commands/metal_run.h"

#include <algorithm>
#include <vector>

#include "core/record.h"
#include "ct/metal_pipeline.h"
#include "commands/loader_chain.h"
#include "commands/pipeline.h"
#include "commands/save_sequence.h"

namespace {

// The refusal of the loaded data, after the frame has been sampled and filtered again
// when `run_pipeline` (raw data and colour are refused before anything changes).
bool refused(wxString* why, bool run_pipeline = false)
{
    if (info.rsq_loaded || info.data_colour != 0 || !info.raw_image) {
        if (why) *why = info.raw_image ? mdt_refusal() : "no CT slice is loaded";
        return true;
    }
    if (run_pipeline) {
        sample_image();
        process_whole_image();
    }
    const char* reason = mdt_refusal();
    if (!reason) return false;
    if (why) *why = reason;
    return true;
}

// The metal of the frames within metal_smooth_frames of the current one, as flags. The
// current frame's planes are kept as they were; frames of another size are passed over.
std::vector<uint8_t> neighbour_metal()
{
    const bool dicom = is_dicom_type(info.file_type);
    if (info.metal_smooth_frames < 1 || !dicom || info.frames < 2) return {};
    const int w = info.proc_width, h = info.proc_height, current = info.frame;
    const size_t n = (size_t)w * h;
    const std::vector<int> sampled(info.sampled_image, info.sampled_image + n);
    const std::vector<int> processed(info.processed_image, info.processed_image + n);
    const int data_min = info.data_min, data_max = info.data_max;
    std::vector<uint8_t> marks(n, 0);
    const int level = 16 * info.metal_threshold;
    const int first = info.first_frame, last = info.first_frame + info.frames - 1;
    for (int d = 1; d <= info.metal_smooth_frames; d++)
        for (int f : {current - d, current + d}) {
            if (f < first || f > last || !reload_frame(f)) continue;
            sample_image();
            if (!info.sampled_image || info.proc_width != w || info.proc_height != h) continue;
            for (size_t i = 0; i < n; i++)
                if (info.sampled_image[i] >= level) marks[i] = 1;
        }
    // Back to the current frame, with its planes as they stood.
    reload_frame(current);
    sample_image();
    if (!info.sampled_image || info.proc_width != w || info.proc_height != h) return {};
    if (!info.processed_image) info.processed_image = new int[n];
    std::copy(sampled.begin(), sampled.end(), info.sampled_image);
    std::copy(processed.begin(), processed.end(), info.processed_image);
    info.data_min = data_min;
    info.data_max = data_max;
    // A neighbour's metal counts only where this frame is dense too (the metal's end,
    // partly in this slice): where this frame holds soft tissue the metal is not here, and
    // taking it as trace would interpolate tissue away.
    const int dense = 16 * (info.metal_background + std::max(info.metal_range, 1));
    for (size_t i = 0; i < n; i++)
        if (sampled[i] < dense) marks[i] = 0;
    return marks;
}

}  // namespace

void set_metal_choice(int choice)
{
    // Per method: active, LI, NMAR, RMAR, hardening degree, predict background.
    static const int flags[7][6] = {{0, 0, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}, {1, 0, 1, 0, 0, 0},
                                    {1, 1, 1, 0, 0, 0}, {1, 0, 0, 1, 3, 0}, {1, 0, 0, 1, 0, 0},
                                    {1, 0, 0, 1, 0, 1}};
    const int c = std::clamp(choice, 0, 6);
    info.metal_choice = c;
    info.metal_active = flags[c][0];
    if (c != 0) {
        info.metal_li = flags[c][1];
        info.metal_nmar = flags[c][2];
        info.metal_rmar = flags[c][3];
        info.metal_hardening = flags[c][4];
    }
    info.metal_predict_back = flags[c][5];
}

bool mdt_one_frame()
{
    if (mdt_refusal()) return false;
    info.metal_neighbours = info.recon_only ? std::vector<uint8_t>() : neighbour_metal();
    if (mdt_refusal()) return false;  // the current frame did not come back
    return mdt_correct_frame();
}

bool metal_apply(wxString* why)
{
    info.metal_iteration = 0;
    info.line_margins[0] = info.line_margins[1] = 0;
    if (refused(why, true)) return false;
    info.metal_active = 1;
    return mdt_one_frame();
}

bool metal_continue(wxString* why)
{
    if (refused(why)) return false;
    if (!info.metal_active) {
        info.metal_active = 1;
        info.line_margins[0] = info.line_margins[1] = 0;
        info.metal_iteration = 0;
    }
    mdt_line line;
    if (!setup_mdt_line_and_filter(false, false, true, line)) return false;
    return mdt_one_iteration(line);
}

bool reconstruct_slice(wxString* why)
{
    // The simulated acquisition works on any grey image (a photograph makes a fine phantom);
    // only the metal correction needs a CT slice in Hounsfield units.
    if (!info.raw_image) {
        if (why) *why = "no image is loaded";
        return false;
    }
    if (refused(why, true)) return false;
    info.recon_only = 1;
    info.metal_iteration = 0;
    const bool ran = mdt_one_frame();
    info.recon_only = 0;
    return ran;
}

void reconstruct_frame()
{
    if (mdt_refusal()) return;
    info.recon_only = 1;
    info.metal_iteration = 0;
    mdt_one_frame();
    info.recon_only = 0;
}

wxString mar_data_refusal()
{
    if (!info.raw_image) return "no data set is loaded";
    // Every frame is loaded and sampled afresh, so only the kind of data can refuse here,
    // not the planes of the frame in hand (the batch tool has not sampled it yet).
    if (info.rsq_loaded || info.data_colour != 0) return mdt_refusal();
    if (info.width < 2 || info.height < 2) return "the frames are too small to correct";
    return data_set_refusal();
}

int mdt_all_frames(const std::function<void()>& after_frame)
{
    if (!mar_data_refusal().empty()) return 0;
    data_set_pass pass;
    pass.title = "Removing metal artefacts";
    pass.done = "MAR";
    pass.corrected = true;
    pass.fresh_frames = true;
    pass.step = [] {
        info.metal_active = 1;
        info.metal_iteration = 0;
        info.line_margins[0] = info.line_margins[1] = 0;
        // A frame without metal is written as it was loaded.
        if (!mdt_one_frame() && info.processed_image && info.sampled_image)
            std::copy(info.sampled_image, info.sampled_image + (size_t)info.proc_width * info.proc_height,
                      info.processed_image);
    };
    return write_data_set(info.first_frame, info.first_frame + info.frames - 1, pass, after_frame);
}
