// Metal-artefact reduction over a CT data set.
#pragma once

// "Create MAR data": corrects every frame of the open data set and writes the results.
// Does nothing without loaded data.
void mdt_all_frames();
