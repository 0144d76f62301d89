// The program's numeric codes by name: the kinds of data set a loader leaves in the record's
// file_type, the "Filter" and mask choices. The record keeps them as plain ints (saved
// settings and the batch tool's JSON carry the numbers), so these are unscoped enums that
// compare with them directly.
#pragma once

// info.file_type: which loader reads the next frame of the open data set.
enum file_type_code : int {
    FILE_MICRO_CT = -7,      // micro-CT projections or reconstruction (RSQ/ISQ)
    FILE_DXA = -6,           // DXA scan (DFE/DFF)
    FILE_IMAGE_PAGES = -5,   // multi-page image file, frames are pages from 0
    FILE_IMAGE = -4,         // one ordinary image file or a numbered sequence of them
    FILE_QCT = -3,           // QCT slice file
    FILE_SONIX_TAGGED = -2,  // ultrasound with a 4-byte tag before each frame
    FILE_SONIX = -1,         // ultrasound without frame tags
    FILE_DICOM = 0,          // one DICOM file (single or multi-frame)
    FILE_DICOM_NUMBERED = 1, // numbered DICOM files
    FILE_DICOM_FOLDER = 2,   // every file of a folder, sorted by name
};

inline bool is_dicom_type(int t) { return t >= FILE_DICOM && t <= FILE_DICOM_FOLDER; }
inline bool is_image_type(int t) { return t == FILE_IMAGE || t == FILE_IMAGE_PAGES; }
inline bool is_sonix_type(int t) { return t == FILE_SONIX || t == FILE_SONIX_TAGGED; }

// info.open_filter: the file-type filter of the open dialog, which names the loader to try.
enum open_filter_code : int {
    OPEN_IMAGE = 0,
    OPEN_DICOM,
    OPEN_SONIX,
    OPEN_QCT,
    OPEN_DXA,
    OPEN_MICRO_CT,
    OPEN_ANY,  // "All files": every loader, DICOM first
    OPEN_FILTERS
};

// info.filter: the "Filter" choice.
enum filter_kind : int {
    FILTER_NONE = 0,
    FILTER_MEAN,
    FILTER_GAUSSIAN,
    FILTER_MEDIAN,
    FILTER_OPENING,
    FILTER_CLOSING,
    FILTER_OCCO,
    FILTER_GRAIN,
    FILTER_OCCO_LEVELLING,
    FILTER_GAUSSIAN_LEVELLING,
    FILTER_GUIDED,
    FILTER_ANISOTROPIC,
    FILTER_BITONIC,
    FILTER_KINDS  // number of entries, 13
};

// info.mask: the mask choice of the rank and bitonic filters.
enum mask_kind : int {
    MASK_CIRCLE = 0,  // "Fixed circular mask"
    MASK_VARYING,     // "Varying mask (Bitonic V)"
    MASK_LOCAL,       // "Local mask (Bitonic X)"
    MASK_SQUARE,      // "Fixed square mask"
    MASK_CROSS,       // "Fixed cross mask"
    MASK_LINE,        // "Fixed line mask"
    MASK_ELLIPSE,     // "Fixed ellipse mask"
    MASK_AREA,        // "Use area attribute"
    MASK_KINDS
};

// Masks whose orientation the angle row sets.
inline bool mask_has_orientation(int m) { return m == MASK_LINE || m == MASK_ELLIPSE; }
