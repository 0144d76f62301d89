"""Voxmira's loaders, filters and CT tools over numpy arrays.

Images are numpy arrays in source units (Hounsfield units for CT): 2-D grey or H x W x 3
colour. Functions return new arrays; bad shapes, dtypes and ranges raise ValueError or
TypeError. Results equal ``voxmira-batch`` with the same options to the last bit.

read(path, frame=None, loader="auto")  -- one frame of any file the program opens, and its metadata
read_frames(path, loader="auto")       -- iterator over every frame of a data set: (array, metadata)
filter(image, name, **params)          -- filter `name` (one of FILTERS) as the pipeline runs it
mean(image, **params)                  -- the mean over the mask
gaussian(image, **params)              -- the Gaussian (thresholded by the level when in force)
median(image, **params)                -- the median over the mask
opening(image, **params)               -- the rank-based opening at the centile
closing(image, **params)               -- the rank-based closing at the centile
occo(image, **params)                  -- the mean of open-close and close-open
grain(image, **params)                 -- the grain (area attribute) filter
occo_levelling(image, **params)        -- the self-dual levelling of the OCCO marker
gaussian_levelling(image, **params)    -- the self-dual levelling of the Gaussian marker
guided(image, **params)                -- the self-guided filter
anisotropic(image, **params)           -- smoothing along the orientation field
bitonic(image, **params)               -- the bitonic filter
filter_reach(name, **params)           -- pixels around a pixel its result depends on (None: whole image)
estimate_noise(image, **params)        -- noise sigma in grey levels, as `voxmira-batch noise`
psnr(image, reference, data_range=255, ref_range=1) -- PSNR (dB, peak 1) as `voxmira-batch compare`
ssim(image, reference, data_range=255, ref_range=1) -- mean SSIM as `voxmira-batch compare --ssim`
reconstruct(slice, **params)           -- simulated CT acquisition and reconstruction of a slice
mar(slice, **params)                   -- metal-artefact reduction of a CT slice
process_dataset(path, out, **params)   -- every frame processed and written as `voxmira-batch dataset`
save_processed(path, out, **params)    -- the processed image written as `voxmira-batch save`

Filter parameters (keyword arguments, named after the window's controls, defaults as the
window's): size (3), level (256; None: not in force; "auto": estimated from the noise),
mask (a name of MASKS or its number; "local"), angle, centile (percent; 4 for the varying
mask, 8 for the others), anisotropy (the anisotropic filter's slider), noise (model 0..2),
multires (pyramid levels; None: off), colour (processing colour space, a name of COLOURS;
colour images come back in it), subsample, subsample_filter.

Record-free calls (filter and the named filters, estimate_noise, psnr, ssim,
filter_reach) release the GIL and run in parallel. Calls that go through the program's
loaders and writers (read, read_frames, process_dataset, save_processed, reconstruct, mar)
release the GIL but take one module-wide lock: they run one at a time.
"""

from . import _voxmira

__version__ = _voxmira.__version__

FILTERS = ("none", "mean", "gaussian", "median", "opening", "closing", "occo", "grain",
           "occo_levelling", "gaussian_levelling", "guided", "anisotropic", "bitonic")
MASKS = ("circular", "varying", "local", "square", "cross", "line", "ellipse", "area")
COLOURS = ("grey", "rgb", "hsv", "ycbcr", "xyz", "lab", "lch", "rgba", "raw", "yuvdg")
LOADERS = ("auto", "image", "dicom", "sonix", "qct", "dfe", "rsq")

_INTEGERS = ("size", "angle", "centile", "noise", "anisotropy", "subsample")


def _integer(key, value):
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{key} must be an integer, not {type(value).__name__}")
    return int(value.__index__())


def _named(key, value, names):
    if isinstance(value, str):
        try:
            return names.index(value.lower())
        except ValueError:
            raise ValueError(f"unknown {key} {value!r}; one of {', '.join(names)}") from None
    return _integer(key, value)


def _settings(name=None, params=None):
    """The keyword arguments as the numbers the compiled part takes."""
    s = {}
    if name is not None:
        s["filter"] = _named("filter", name, FILTERS)
    for key, value in (params or {}).items():
        if key in _INTEGERS:
            s[key] = _integer(key, value)
        elif key == "level":
            if value is None:
                s["use_level"] = 0
            elif isinstance(value, str) and value == "auto":
                s["levelling"] = 1
            else:
                s["level"] = _integer(key, value)
        elif key == "mask":
            s["mask"] = _named(key, value, MASKS)
        elif key == "colour":
            s["colour"] = _named(key, value, COLOURS)
        elif key == "multires":
            if value is not None and value is not False:
                s["multires"] = _integer(key, value)
        elif key == "subsample_filter":
            s["subsample_filter"] = int(bool(value))
        else:
            raise TypeError(f"unknown parameter {key!r}")
    return s


def read(path, frame=None, loader="auto"):
    """One frame of `path` (the first open's frame, or `frame`) through the program's
    loaders: (array, metadata). int32 when every sample is whole in source units, else
    float64. Takes the record lock."""
    if frame is not None:
        frame = _integer("frame", frame)
        if frame < 0:
            raise ValueError("frame must not be negative")
    if loader not in LOADERS:
        raise ValueError(f"unknown loader {loader!r}; one of {', '.join(LOADERS)}")
    return _voxmira._read(str(path), -1 if frame is None else frame, loader)


def read_frames(path, loader="auto"):
    """Every frame of the data set `path` belongs to, in order: (array, metadata) each.
    Takes the record lock for each frame."""
    first = read(path, loader=loader)
    meta = first[1]
    yield first
    for k in range(meta["first_frame"], meta["first_frame"] + meta["frames"]):
        if k != meta["frame"]:
            yield read(path, frame=k, loader=loader)


def filter(image, name, **params):  # noqa: A001 -- the package's own filter
    """`image` filtered by filter `name` (a name of FILTERS or its number) as the program's
    pipeline does: float64 in source units, the processing colour space's channels.
    Record-free; releases the GIL."""
    return _voxmira._filter(image, _settings(name, params))


def _named_filter(name):
    def run(image, **params):
        return filter(image, name, **params)
    run.__name__ = name
    run.__doc__ = f"filter(image, {name!r}, **params)"
    return run


mean = _named_filter("mean")
gaussian = _named_filter("gaussian")
median = _named_filter("median")
opening = _named_filter("opening")
closing = _named_filter("closing")
occo = _named_filter("occo")
grain = _named_filter("grain")
occo_levelling = _named_filter("occo_levelling")
gaussian_levelling = _named_filter("gaussian_levelling")
guided = _named_filter("guided")
anisotropic = _named_filter("anisotropic")
bitonic = _named_filter("bitonic")


def _field(s):
    """Reach of the orientation field at scale s: the gradient, the tensor's Gaussian
    (floor(s) taps) and the minor eigenvalues' Gaussian twice as wide."""
    return 1 + int(s // 1) + int((2 * s) // 1)


def filter_reach(name, **params):
    """How many pixels around a pixel (in each direction) the filter's result at that pixel
    depends on, or None where it depends on the whole image: the automatic level, the
    multi-resolution pyramid, sub-sampling, the area mask (grains of any extent), the grain
    filter and the levellings (iterated to a fixed point), and the bitonic filter's local
    mask below level 38 (its orientation field is normalised over the image).

    A chunk filtered with this margin gives the whole image's result inside it, provided
    the chunk with its margin is more than 2 x size pixels wide and high (the windowed
    filters copy an image narrower than their window)."""
    s = _settings(name, params)
    kind, r = FILTERS[s["filter"]], s.get("size", 3)
    mask = MASKS[s.get("mask", 2)]
    if s.get("levelling") or "multires" in s or s.get("subsample", 1) > 1:
        return None
    if kind in ("grain", "occo_levelling", "gaussian_levelling"):
        return None
    if mask == "area" and kind in ("median", "opening", "closing", "occo", "bitonic"):
        return None
    if kind == "none":
        return 0
    if kind == "mean":
        return r
    if kind == "gaussian":
        return int(1.3 * r // 1)
    if kind == "guided":
        return 2 * r
    if kind == "anisotropic":
        return int(1.3 * r // 1) + _field(1.3 * r)
    passes = {"median": 1, "opening": 2, "closing": 2, "occo": 4, "bitonic": 2}[kind]
    if kind == "bitonic" and r < 1:
        return 0
    if mask == "local":
        # The guide: the grey plane smoothed along its own field at 1.2 size.
        guide = int(1.2 * r // 1) + _field(1.2 * r)
        if kind == "bitonic":
            if int(s.get("level", 256) * 3 + 0.5) < 114:
                return None
            # The errors are smoothed along the same field.
            return 2 * r + guide + int(1.2 * r // 1)
        # The local mask's rank filters are openings and closings: two passes at least.
        return max(passes, 2) * r + guide
    smoothing = int(1.3 * r // 1) if kind == "bitonic" else 0
    if mask == "varying":
        # The last pass reads the masks chosen at its own pixel; earlier ones further out.
        return smoothing + (passes - 1) * r + max(r, _field(1.3 * r))
    return smoothing + passes * r


def estimate_noise(image, **params):
    """The block-PCA noise sigma of `image` in grey levels (colour through its scaled grey
    plane), as `voxmira-batch noise`. Takes no parameters yet (TypeError for any)."""
    if params:
        raise TypeError(f"unknown parameter {next(iter(params))!r}")
    return _voxmira._estimate_noise(image)


def psnr(image, reference, data_range=255.0, ref_range=1.0):
    """PSNR in dB of `image` against `reference` (peak 1: errors in fractions of
    data_range, the reference's share ref_range), as `voxmira-batch compare`."""
    return _voxmira._psnr(image, reference, float(data_range), float(ref_range))


def ssim(image, reference, data_range=255.0, ref_range=1.0):
    """Mean SSIM of `image` against `reference` on their 8-bit forms, as
    `voxmira-batch compare --ssim`."""
    return _voxmira._ssim(image, reference, float(data_range), float(ref_range))


def process_dataset(path, out, **params):
    """Every frame of the DICOM or 16-bit TIFF data set `path` belongs to, processed with
    the filter settings and written as `voxmira-batch dataset` writes them (beside the
    source in proc/, then moved into folder `out` unless it is None). Returns the paths
    written. Takes the record lock."""
    params = dict(params)
    name = params.pop("filter", None)
    for key in ("colour", "subsample", "subsample_filter"):
        if key in params:
            raise TypeError(f"process_dataset takes no {key}: data sets are written as loaded")
    return _voxmira._process_dataset(str(path), None if out is None else str(out), _settings(name, params))


def save_processed(path, out, **params):
    """`path` processed with the filter settings and saved to `out` as "Save processed"
    does (type from the extension), as `voxmira-batch save` (or `process --save`).
    Returns [out]. Takes the record lock."""
    params = dict(params)
    name = params.pop("filter", None)
    return _voxmira._save_processed(str(path), str(out), _settings(name, params))


def reconstruct(slice, frame=None, **params):
    """The CT Recon page's "Reconstruct" on a slice (a 2-D array in source units, or a path
    and frame): projection over half a turn with detection noise, then filtered
    back-projection, as `voxmira-batch recon`. Parameters: noise (dB, 0..80),
    angle_scale, relative_scale (percent, 1..200), filter_parameter (1..100), seed.
    float64. Takes the record lock."""
    return _voxmira._reconstruct(slice, None if frame is None else _integer("frame", frame), **params)


def mar(slice, frame=None, **params):
    """The CT Metal page's "Apply" on a CT slice in HU (a 2-D array, or a path and frame),
    as `voxmira-batch mar --out`: method (0 none .. 6, default 4 RMAR), metal, background,
    air, range (HU), iterations, convergence, smooth, smooth_frames, and the reconstruct()
    parameters. A slice without metal comes back unchanged. float64. Takes the record
    lock."""
    return _voxmira._mar(slice, None if frame is None else _integer("frame", frame), **params)
