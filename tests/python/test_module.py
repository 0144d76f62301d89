"""The Python module against the batch tool: the same options give the same bytes.

Run by ctest ("python") with PYTHONPATH at build/python and VOXMIRA_BATCH the batch tool.
"""
import json
import os
import shutil
import subprocess
import threading
from pathlib import Path

import numpy as np
import pydicom
import pytest

import voxmira

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "data" / "samples"
FIXTURES = ROOT / "tests" / "fixtures"
BATCH = os.environ.get("VOXMIRA_BATCH", str(ROOT / "build" / "voxmira-batch"))


def batch(*args):
    done = subprocess.run([BATCH, *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.fixture(scope="module")
def pictures(tmp_path_factory):
    """A grey crop of the noisy camera and a small colour picture, under plain names (no
    reference is paired by name)."""
    import cv2
    d = tmp_path_factory.mktemp("pictures")
    grey = d / "grey.png"
    cv2.imwrite(str(grey), cv2.imread(str(SAMPLES / "camera_all_noise_016.png"), cv2.IMREAD_UNCHANGED)[200:264, 180:250])
    colour = d / "colour.png"
    rng = np.random.default_rng(5)
    rgb = np.clip(np.add.outer(np.arange(40), np.arange(36))[..., None] * [3, 2, 1] +
                  rng.normal(0, 12, (40, 36, 3)), 0, 255).astype(np.uint8)
    cv2.imwrite(str(colour), rgb[..., ::-1])
    return {"grey": grey, "colour": colour}


# (picture, batch options, module keyword arguments)
RANK = ["median", "opening", "closing", "occo", "bitonic", "occo_levelling"]
K = voxmira.FILTERS.index
CASES = [("grey", ["--filter", K(k), "--mask", m], dict(name=k, mask=m))
         for k in RANK for m in (0, 1, 2, 3, 5, 7)] + [
    ("grey", ["--filter", K(k)], dict(name=k))
    for k in ("mean", "gaussian", "grain", "gaussian_levelling", "guided", "anisotropic")] + [
    ("grey", ["--filter", 3, "--size", 2, "--angle", 30, "--mask", 6], dict(name=3, size=2, angle=30, mask="ellipse")),
    ("grey", ["--filter", 2, "--no-level"], dict(name="gaussian", level=None)),
    ("grey", ["--filter", 6, "--auto-level", "--centile", 10], dict(name="occo", level="auto", centile=10)),
    ("grey", ["--filter", 11, "--multires", 3, "--level", 40], dict(name="anisotropic", multires=3, level=40)),
    ("grey", ["--filter", 12, "--multires", 2, "--mask", 1], dict(name="bitonic", multires=2, mask="varying")),
    ("colour", ["--filter", 3], dict(name="median")),
    ("colour", ["--filter", 12, "--mask", 1], dict(name="bitonic", mask=1)),
    ("colour", ["--filter", 1, "--noise", 1], dict(name="mean", noise=1)),
    ("colour", ["--filter", 11, "--noise", 2, "--colour", 5], dict(name="anisotropic", noise=2, colour="lab")),
    ("colour", ["--filter", 6, "--colour", 0, "--auto-level"], dict(name="occo", colour="grey", level="auto")),
    ("colour", ["--filter", 2, "--subsample", 2], dict(name="gaussian", subsample=2)),
]


@pytest.mark.parametrize("picture,options,kwargs", CASES)
def test_filter_equals_batch(pictures, tmp_path, picture, options, kwargs):
    out = tmp_path / "out.bin"
    batch("process", pictures[picture], "--out", out, *options)
    image, _ = voxmira.read(pictures[picture])
    kwargs = dict(kwargs)
    result = voxmira.filter(image, kwargs.pop("name"), **kwargs)
    expected = np.fromfile(out, "<i4").reshape(result.shape) / 16.0
    np.testing.assert_array_equal(result, expected)


def test_read_and_metadata():
    series = SAMPLES / "ct_phantom" / "ct_phantom_0005.dcm"
    image, meta = voxmira.read(series)
    info = json.loads(batch("info", series).splitlines()[0])
    assert image.shape == (256, 256) and image.dtype == np.int32
    assert (meta["frames"], meta["size"], meta["spacing"]) == (info["frames"], (256, 256), (0.9, 0.9))
    assert (image.min(), image.max()) == (info["data_min"], info["data_max"])
    assert meta["window"] == (40, 400) and meta["file_type"].startswith("dicom")
    frames = list(voxmira.read_frames(series))
    assert len(frames) == meta["frames"]
    np.testing.assert_array_equal(frames[[m["frame"] for _, m in frames].index(meta["frame"])][0], image)
    other, m2 = voxmira.read(series, frame=meta["first_frame"])
    assert m2["frame"] == meta["first_frame"]


def test_noise_and_comparison(pictures, tmp_path):
    import cv2
    noisy, clean = tmp_path / "noisy.png", tmp_path / "clean.png"
    shutil.copy(SAMPLES / "camera_all_noise_016.png", noisy)
    shutil.copy(SAMPLES / "camera_all_ref_016.png", clean)
    image = voxmira.read(noisy)[0]
    assert f"{voxmira.estimate_noise(image):.4f}" == batch("noise", noisy).splitlines()[-1]
    # A colour pair: the colour picture against its Gaussian as the "clean" reference.
    colour, smooth = pictures["colour"], tmp_path / "smooth.png"
    cv2.imwrite(str(smooth), np.round(voxmira.gaussian(voxmira.read(colour)[0]))[..., ::-1].astype(np.uint8))
    for (picture, ref), k in [((noisy, clean), "median"), ((noisy, clean), "bitonic"), ((colour, smooth), "median")]:
        image, reference = voxmira.read(picture)[0], voxmira.read(ref)[0]
        run = ["process", picture, "--filter", K(k), "--out", tmp_path / "o.bin", "--ref", ref]
        psnr, ssim = batch(*run).split()[-5:], batch(*run, "--ssim").split()[-6:]
        out = voxmira.filter(image, k)
        assert [f"{voxmira.psnr(image, reference):.2f}", f"{voxmira.psnr(out, reference):.2f}"] == psnr[::2][:2]
        assert f"({voxmira.ssim(out, reference):.3f})" == ssim[-1]


CT = SAMPLES / "ct_phantom" / "ct_phantom_0005.dcm"


@pytest.mark.parametrize("verb,source,options,kwargs", [
    ("mar", "ct", ["--iterations", 2], dict(iterations=2)),
    ("mar", "ct-array", ["--method", 2, "--smooth-frames", 0], dict(method=2, smooth_frames=0)),
    ("mar", "ct-array", ["--method", 0], dict(method=0)),
    ("recon", "grey-array", ["--noise", 30, "--seed", 7, "--angle-scale", 50], dict(noise=30, seed=7, angle_scale=50)),
])
def test_ct_equals_batch(pictures, tmp_path, verb, source, options, kwargs):
    path = CT if source.startswith("ct") else pictures["grey"]
    batch(verb, path, "--out", tmp_path / "out.bin", *options)
    slice = voxmira.read(path)[0] if source.endswith("array") else path
    result = (voxmira.mar if verb == "mar" else voxmira.reconstruct)(slice, **kwargs)
    np.testing.assert_array_equal(result, np.fromfile(tmp_path / "out.bin", "<i4").reshape(result.shape) / 16.0)


def test_dataset_and_save(tmp_path):
    for name in ("a", "b"):
        (tmp_path / name).mkdir()
        for k in (1, 2):
            shutil.copy(SAMPLES / "ct_phantom" / f"ct_phantom_000{k}.dcm", tmp_path / name)
    first = tmp_path / "a" / "ct_phantom_0001.dcm"
    batch("dataset", first, "--filter", 3, "--mask", 0)
    written = voxmira.process_dataset(tmp_path / "b" / "ct_phantom_0001.dcm", tmp_path / "out", filter="median", mask="circular")
    expected = sorted((tmp_path / "a").glob("proc/*"))
    assert [Path(f).name for f in sorted(written)] == [f.name for f in expected]
    for w, e in zip(sorted(written), expected):
        a, b = pydicom.dcmread(w), pydicom.dcmread(e)
        for uid in ("SOPInstanceUID", "SeriesInstanceUID"):  # new at every run
            setattr(a, uid, "1.2")
            setattr(b, uid, "1.2")
        assert a == b and os.path.getsize(w) == e.stat().st_size
    batch("process", first, "--filter", 2, "--save", tmp_path / "batch.tif")
    voxmira.save_processed(first, tmp_path / "module.tif", filter="gaussian")
    assert (tmp_path / "batch.tif").read_bytes() == (tmp_path / "module.tif").read_bytes()


def test_threads_match_one_after_the_other(pictures):
    image, _ = voxmira.read(pictures["grey"])
    big = np.tile(image, (4, 4))
    jobs = [("bitonic", dict(mask="varying")), ("anisotropic", {}), ("occo", dict(level="auto")),
            ("median", dict(multires=3))]
    jobs.append(("read", None))  # a record path under the module's lock meanwhile

    def one(k, p):
        if k != "read":
            return voxmira.filter(big, k, **p)
        # Loads on a thread of their own, one refused between them: each watches the
        # thread's log and must leave it as it was.
        voxmira.read(CT)
        with pytest.raises(RuntimeError):
            voxmira.read(__file__)
        voxmira.save_processed(pictures["grey"], pictures["grey"].parent / "thread.png")
        return voxmira.read(CT)[0]
    alone = [one(k, p) for k, p in jobs]
    together = [None] * len(jobs)

    def run(i):
        together[i] = one(*jobs[i])
    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("call,error", [
    (lambda: voxmira.filter(np.zeros((4, 4, 4)), "mean"), ValueError),
    (lambda: voxmira.filter(np.zeros(5), "mean"), ValueError),
    (lambda: voxmira.filter(np.zeros((0, 3)), "mean"), ValueError),
    (lambda: voxmira.filter(np.full((4, 4), np.nan), "mean"), ValueError),
    (lambda: voxmira.filter(np.zeros((4, 4), bool), "mean"), TypeError),
    (lambda: voxmira.filter(np.zeros((4, 4), complex), "mean"), TypeError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "blur"), ValueError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "mean", size=101), ValueError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "mean", size=2.5), TypeError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "median", mask="round"), ValueError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "median", colour="lab"), ValueError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "median", radius=3), TypeError),
    (lambda: voxmira.filter(np.zeros((4, 4)), "median", subsample=5), ValueError),
    (lambda: voxmira.read("/no/such/file.dcm"), FileNotFoundError),
    (lambda: voxmira.read(FIXTURES / "dicom" / "expected.txt"), RuntimeError),
    (lambda: voxmira.read(SAMPLES / "camera_all_ref_016.png", frame=3), ValueError),
    (lambda: voxmira.read(SAMPLES / "camera_all_ref_016.png", loader="gif"), ValueError),
    (lambda: voxmira.save_processed(SAMPLES / "camera_all_ref_016.png", "/tmp/x.gif"), ValueError),
    (lambda: voxmira.psnr(np.zeros((4, 4)), np.zeros((4, 5))), ValueError),
    (lambda: voxmira.mar(np.zeros((8, 8)), method=9), ValueError),
    (lambda: voxmira.mar(np.zeros((8, 8, 3))), ValueError),
    (lambda: voxmira.reconstruct(np.zeros((1, 8))), ValueError),
    (lambda: voxmira.reconstruct(np.zeros((8, 8)), iterations=2), TypeError),
])
def test_bad_input_is_refused(call, error):
    with pytest.raises(error):
        call()


def test_tiny_and_flat_images_do_not_crash():
    for name in voxmira.FILTERS:
        for shape in ((1, 1), (2, 3), (3, 2, 3)):
            out = voxmira.filter(np.full(shape, 7, np.uint8), name)
            assert out.shape[:2] == shape[:2] and np.isfinite(out).all()


@pytest.mark.parametrize("name,params", [
    ("gaussian", dict(size=3)), ("median", dict(mask="varying")), ("occo", dict(mask="local", size=2)),
    ("bitonic", dict(mask="circular")), ("bitonic", dict(mask="varying", size=2)), ("anisotropic", dict(size=2)),
    ("guided", {}), ("opening", dict(mask="line", angle=20)),
])
def test_a_chunk_with_the_reach_as_margin_gives_the_whole_result(pictures, name, params):
    image = voxmira.read(pictures["grey"])[0]
    whole, m = voxmira.filter(image, name, **params), voxmira.filter_reach(name, **params)
    y0, x0, y1, x1 = 27, 31, 37, 39  # odd offsets: no alignment is needed
    part = voxmira.filter(image[max(0, y0 - m):y1 + m, max(0, x0 - m):x1 + m], name, **params)
    np.testing.assert_array_equal(part[y0 - max(0, y0 - m):, x0 - max(0, x0 - m):][:y1 - y0, :x1 - x0],
                                  whole[y0:y1, x0:x1])


def test_reach_is_none_where_the_whole_image_counts():
    assert [voxmira.filter_reach(*a, **k) for a, k in [
        (("median",), dict(level="auto")), (("gaussian",), dict(multires=2)), (("grain",), {}),
        (("occo",), dict(mask="area")), (("occo_levelling",), {}), (("bitonic",), dict(mask="local", level=20)),
        (("mean",), dict(subsample=2))]] == [None] * 7
    assert voxmira.filter_reach("median", mask="square", size=4) == 4


def test_warnings_become_exception_text_not_stderr(capfd):
    with pytest.raises(RuntimeError, match="damaged"):
        voxmira.read(FIXTURES / "dicom" / "corrupt_huffman.dcm")
    assert capfd.readouterr().err == ""
