"""voxmira.dask: chunked filtering equals the whole image; files over a 2-process cluster
give the batch tool's bytes."""
import glob
import os
import shutil
import subprocess

import dask.array as da
import numpy as np
import pydicom
import pytest

import voxmira
import voxmira.dask as vd

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLES = os.path.join(ROOT, "data", "samples")
SERIES = os.path.join(SAMPLES, "ct_phantom")


def batch_tool():
    build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(voxmira.__file__))))
    for p in (os.environ.get("VOXMIRA_BATCH"), os.path.join(build, "voxmira-batch"), shutil.which("voxmira-batch")):
        if p and os.access(p, os.X_OK):
            return p
    pytest.skip("no voxmira-batch to compare with")


@pytest.fixture(scope="module")
def images():
    ct, _ = voxmira.read(os.path.join(SERIES, "ct_phantom_0006.dcm"))
    pic, _ = voxmira.read(os.path.join(SAMPLES, "camera_all_noise_016.png"))
    pic = pic[100:220, 150:250]
    colour = np.ascontiguousarray(np.dstack([pic, pic[::-1], pic[:, ::-1]]))
    return {"ct": ct[40:200, 30:190], "grey": pic, "colour": colour}


# Several filters, masks and settings; chunks far smaller than the images (and than some
# reaches), of uneven sizes.
CASES = [
    ("mean", "ct", dict(size=4)),
    ("gaussian", "grey", dict(size=3)),
    ("gaussian", "colour", dict(size=2)),
    ("median", "ct", dict(size=3, mask="square")),
    ("opening", "grey", dict(size=2, mask="cross", centile=10)),
    ("closing", "ct", dict(size=3, mask="line", angle=30)),
    ("occo", "grey", dict(size=2, mask="ellipse", angle=60)),
    ("median", "ct", dict(size=2, mask="local")),
    ("guided", "grey", dict(size=3)),
    ("anisotropic", "ct", dict(size=2)),
    ("anisotropic", "colour", dict(size=2, level=None)),
    ("bitonic", "ct", dict(size=3)),
    ("bitonic", "grey", dict(size=2, mask="varying")),
    ("bitonic", "colour", dict(size=2, mask="circular")),
    ("median", "grey", dict(size=2, level="auto")),
    ("bitonic", "ct", dict(size=2, mask="square", level="auto")),
]


@pytest.mark.parametrize("name,image,params", CASES)
def test_chunked_result_equals_the_whole_image(images, name, image, params):
    a = images[image]
    chunks = (23, 31) + a.shape[2:]
    got = vd.filter(da.from_array(a, chunks=chunks), name, **params).compute()
    whole = dict(params)
    if whole.get("level") == "auto":  # the level estimated once over the whole image
        whole["level"] = round(voxmira.estimate_noise(a))
    expected = voxmira.filter(a, name, **whole)
    assert got.dtype == expected.dtype and got.shape == expected.shape
    assert np.array_equal(got, expected), "%s %s: %d pixels differ" % (name, params, np.sum(got != expected))


def test_whole_image_filters_are_refused_or_run_as_one_chunk(images):
    a = da.from_array(images["grey"], chunks=40)
    for name, params, reason in [("occo_levelling", {}, "fixed point"),
                                 ("gaussian_levelling", {}, "fixed point"),
                                 ("grain", {}, "grains"),
                                 ("bitonic", dict(level=10), "orientation field"),
                                 ("median", dict(multires=2), "multi-resolution")]:
        with pytest.raises(ValueError, match=reason):
            vd.filter(a, name, **params)
    got = vd.filter(a, "occo_levelling", allow_single_chunk=True, size=2).compute()
    assert np.array_equal(got, voxmira.filter(images["grey"], "occo_levelling", size=2))
    with pytest.raises(ValueError, match="2-D grey"):
        vd.filter(da.zeros((4, 5, 6, 7)), "mean")


def dicom_without_uids(path):
    """The file's bytes with the UIDs a data-set run makes new replaced by X's."""
    data = bytearray(open(path, "rb").read())
    d = pydicom.dcmread(path)
    for uid in (d.file_meta.MediaStorageSOPInstanceUID, d.SOPInstanceUID, d.SeriesInstanceUID):
        data = data.replace(str(uid).encode(), b"X" * len(str(uid)))
    return bytes(data)


def test_files_over_two_worker_processes_match_the_batch_tool(tmp_path):
    from dask.distributed import Client, LocalCluster

    batch = batch_tool()
    series = tmp_path / "series"
    shutil.copytree(SERIES, series)
    pics = tmp_path / "pics"
    pics.mkdir()
    rng = np.random.default_rng(7)
    import cv2
    cv2.imwrite(str(pics / "grey.png"), rng.integers(0, 256, (40, 52), dtype=np.uint8))
    cv2.imwrite(str(pics / "colour.png"), rng.integers(0, 256, (30, 41, 3), dtype=np.uint8))
    cv2.imwrite(str(pics / "odd.pgm"), rng.integers(0, 256, (33, 21), dtype=np.uint8))
    (pics / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\nnot a picture")

    params, args = dict(filter="bitonic", size=2, mask="square"), ["--filter", "12", "--size", "2", "--mask", "3"]
    expected = {}
    first = str(series / "ct_phantom_0005.dcm")  # any file of the series stands for all of it
    subprocess.run([batch, "dataset", first] + args, check=True, capture_output=True)
    for f in sorted(glob.glob(str(series / "proc" / "*"))):
        expected[os.path.basename(f)] = dicom_without_uids(f)
    shutil.rmtree(series / "proc")
    for src, name in [("grey.png", "grey.png"), ("colour.png", "colour.png"), ("odd.pgm", "odd.pnm")]:
        ref = tmp_path / ("ref_" + name)
        subprocess.run([batch, "process", str(pics / src), "--save", str(ref)] + args, check=True,
                       capture_output=True)
        expected[name] = ref.read_bytes()

    out = tmp_path / "out"
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster, \
            Client(cluster) as client:
        s = vd.process_files([first, str(pics)], out, client=client, progress=False, **params)
        assert list(s["failed"]) == [str(pics / "broken.png")] and s["failed"][str(pics / "broken.png")]
        assert sorted(os.path.basename(p) for p in s["written"]) == sorted(expected)
        for p in s["written"]:
            got = dicom_without_uids(p) if p.endswith(".dcm") else open(p, "rb").read()
            assert got == expected[os.path.basename(p)], p
        # A rerun (through the scheduler's address) skips what is complete, tries the broken
        # file again and redoes a removed output.
        os.remove(out / "grey.png")
        again = vd.process_files([first, str(pics)], out, client=cluster.scheduler_address, progress=False,
                                 **params)
        assert again["written"] == [str(out / "grey.png")]
        assert sorted(again["skipped"]) == sorted([str(series / "ct_phantom_0001.dcm"), str(pics / "colour.png"),
                                                  str(pics / "odd.pgm")])
        assert list(again["failed"]) == [str(pics / "broken.png")]
