// Metal-artefact reduction over a CT data set. The per-frame correction is not built yet;
// the all-frames step has nothing to do without it.
#include "ct/metal_pipeline.h"

#include "core/record.h"

void mdt_all_frames()
{
    if (!info.raw_image) return;
}
