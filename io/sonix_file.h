// Ultrasound files of the Sonix research scanners (.b8, .b32, .rf, .pw, .col, .el, .elo).
#pragma once

// Loads frame `index` (1-based; -1 for a first open, which loads frame 1) of an
// ultrasound file: 76-byte header of little-endian 32-bit integers (frames, the two
// dimensions, bits per sample 8, 16 or 32, sampling frequency at byte 60), then the
// frames, each optionally after a 4-byte tag (file_type -2, else -1). 8-bit samples are
// grey, 32-bit samples B, G, R, x colour, 16-bit RF samples signed grey with each stored
// line an image row. A file shorter than its header promises offers only the frames it
// holds. Returns false (record unchanged) for anything else.
bool load_sonix_file(char* path, int index);
