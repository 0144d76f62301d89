"""Voxmira over dask: chunked filtering of dask arrays, and files processed over a cluster.

filter(array, name, **params)         voxmira.filter over a dask.array, chunk by chunk, with
                                      the same result as on the whole image in memory
process_files(paths, out, client=None, **params)
                                      every file or data set processed and written as
                                      `voxmira-batch dataset` / `process --save` do, spread
                                      over a dask.distributed cluster; returns a summary

Chunks overlap by the filter's reach (voxmira.filter_reach): a pixel's result depends on the
pixels within that many of it, so a chunk grown by the reach on each side and cut back
afterwards gives exactly the pixels the whole image gives. Where the result depends on the
whole image (a levelling run to a fixed point, grains, a multi-resolution pyramid, the area
mask) there is no such reach: filter refuses, or runs the image as one chunk when asked to.
"""
import hashlib
import json
import logging
import os
import subprocess
import sys
import threading

import numpy as np

import voxmira

# Filters whose result depends on the whole image, and why (for the refusal's message).
_WHOLE_IMAGE = {
    "occo_levelling": "the OCCO levelling runs to a fixed point over the whole image",
    "gaussian_levelling": "the Gaussian levelling runs to a fixed point over the whole image",
    "grain": "the grain filter's grains (connected regions) may span the whole image",
}

def _whole_image_reason(name, params):
    if params.get("multires"):
        return "a multi-resolution pyramid filters the whole image at every level"
    if name in _WHOLE_IMAGE:
        return _WHOLE_IMAGE[name]
    if params.get("mask") in ("area", 7):
        return "the area mask grows over connected regions of any size"
    if params.get("subsample", 1) != 1:
        return "sub-sampling filters the image at another scale"
    if name == "bitonic" and params.get("mask", "local") in ("local", 2):
        return "at a low level the local mask's orientation field is normalised over the whole image"
    return "the result depends on the whole image"


def _as_dask(array):
    import dask.array as da

    if not isinstance(array, da.Array):
        array = da.from_array(np.asarray(array))
    if array.ndim == 3 and array.shape[2] == 3:
        if len(array.chunks[2]) != 1:
            array = array.rechunk({2: 3})
    elif array.ndim != 2:
        raise ValueError("voxmira.dask.filter takes a 2-D grey image or an H x W x 3 colour image, "
                         "not an array of shape %s" % (array.shape,))
    return array


def _result_dtype(array, name, params):
    # The filter's output type for this input type, from a small image of zeros.
    probe = np.zeros((min(array.shape[0], 16), min(array.shape[1], 16)) + array.shape[2:], array.dtype)
    return voxmira.filter(probe, name, **params).dtype


def filter(array, name, allow_single_chunk=False, **params):
    """voxmira.filter(image, name, **params) over a dask array, chunk by chunk.

    `array`: a dask.array (or anything numpy takes) of shape H x W (grey) or H x W x 3
    (colour; the colour axis is made one chunk). The chunks overlap by the filter's reach
    and are cut back, so the result equals voxmira.filter on the whole image in memory.
    level="auto" estimates the noise once over the whole array (voxmira.estimate_noise,
    which computes the array) and filters every chunk with that sigma, rounded, as the
    level: the result equals voxmira.filter(image, name, level=that number). (The in-memory
    level="auto" also weighs each pixel by a noise map relative to the image's mean noise,
    which chunks cannot reproduce.) A filter whose result depends on the whole image (the
    levellings, the grain filter, multires, the area mask, the local bitonic mask at a low
    level) raises ValueError naming the reason, unless allow_single_chunk=True: the array is
    then rechunked to one chunk (it must fit in one worker's memory).
    Returns a lazy dask array (float64, as voxmira.filter); nothing is filtered until it is
    computed.
    """
    array = _as_dask(array)
    params = dict(params)
    if isinstance(params.get("level"), str):
        if params["level"] != "auto":
            raise ValueError('level must be a number, None or "auto", not %r' % params["level"])
        params["level"] = _auto_level(array, params)
    reach = voxmira.filter_reach(name, **params)
    dtype = _result_dtype(array, name, params)
    meta = np.empty((0,) * array.ndim, dtype)

    def run(block):
        return voxmira.filter(np.ascontiguousarray(block), name, **params)

    if reach is None:
        if not allow_single_chunk:
            raise ValueError("%s cannot be filtered in chunks: %s (pass allow_single_chunk=True to "
                             "filter it as one chunk)" % (name, _whole_image_reason(name, params)))
        whole = array.rechunk(array.shape)
        return whole.map_blocks(run, dtype=dtype, meta=meta)
    if reach == 0:
        return array.map_blocks(run, dtype=dtype, meta=meta)
    # Every chunk at least as wide as the reach (a chunk's margin comes from its
    # neighbours) and wider than the filter's window: the windowed filters treat an image
    # narrower than their window differently.
    from dask.array.overlap import ensure_minimum_chunksize

    least = max(reach, 2 * int(params.get("size", 3)) + 1)
    array = array.rechunk({axis: ensure_minimum_chunksize(least, array.chunks[axis]) for axis in (0, 1)})
    depth = {0: reach, 1: reach}
    if array.ndim == 3:
        depth[2] = 0
    return array.map_overlap(run, depth=depth, boundary="none", trim=True, dtype=dtype, meta=meta)


def _auto_level(array, params):
    """The noise sigma of the whole array, rounded: the level every chunk is filtered with."""
    return int(round(voxmira.estimate_noise(np.asarray(array.compute()))))


# ---------------------------------------------------------------------------------------
# Files over a cluster

# Types `process --save` writes (the extension chooses the writer).
_SAVE_TYPES = ("png", "jpg", "jpeg", "tif", "tiff", "bmp", "pnm", "ppm", "bin")
_STAMPS = ".voxmira-dask"


def _is_dicom(path):
    try:
        with open(path, "rb") as f:
            head = f.read(132)
    except OSError:
        return False
    return head[128:132] == b"DICM" or path.lower().endswith((".dcm", ".dicom"))


def _is_sixteen_bit_tiff(path):
    """A TIFF whose first page has 16 bits per sample: the data-set writer's other kind."""
    try:
        with open(path, "rb") as f:
            head = f.read(8)
            if head[:4] not in (b"II*\0", b"MM\0*"):
                return False
            end = "<" if head[:2] == b"II" else ">"
            f.seek(int.from_bytes(head[4:8], "little" if end == "<" else "big"))
            count = np.frombuffer(f.read(2), end + "u2")[0]
            entries = f.read(12 * int(count))
    except (OSError, IndexError, ValueError):
        return False
    for i in range(0, len(entries) - 11, 12):
        tag, kind, n = np.frombuffer(entries[i:i + 8], end + "u2,%su2,%su4" % (end, end))[0]
        if tag == 258:  # BitsPerSample: the value, or an offset when it does not fit
            if kind != 3:
                return False
            if n <= 2:
                return int(np.frombuffer(entries[i + 8:i + 10], end + "u2")[0]) == 16
            with open(path, "rb") as f:
                f.seek(int(np.frombuffer(entries[i + 8:i + 12], end + "u4")[0]))
                return int(np.frombuffer(f.read(2), end + "u2")[0]) == 16
    return False


def _sequence_field(path):
    """(start, end, digits) of the last run of digits in the path, as the loaders find it."""
    end = len(path)
    while end > 0 and not path[end - 1].isdigit():
        end -= 1
    if end == 0:
        return None
    start = end
    while start > 0 and path[start - 1].isdigit():
        start -= 1
    return start, end, path[start:end]


def _numbered(path, field, n):
    start, end, digits = field
    text = str(n)
    if digits[0] == "0":
        text = text.zfill(len(digits))
    return path[:start] + text + path[end:]


def _data_set_members(path):
    """The files of the data set `path` opens as: a numbered series (the unbroken run of
    numbers around the file's), else, for DICOM, every plain file of its folder."""
    field = _sequence_field(path)
    in_name = field is not None and field[0] > path.rfind("/")
    members = [path]
    if in_name:
        number = int(field[2])
        n = number - 1
        while n >= 0 and os.path.isfile(_numbered(path, field, n)):
            members.insert(0, _numbered(path, field, n))
            n -= 1
        n = number + 1
        while os.path.isfile(_numbered(path, field, n)):
            members.append(_numbered(path, field, n))
            n += 1
    if len(members) == 1 and field is not None and _is_dicom(path):
        folder = os.path.dirname(path)
        members = sorted(os.path.join(folder, f) for f in os.listdir(folder)
                         if os.path.isfile(os.path.join(folder, f)))
    return members


def _expand(paths):
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    files = []
    for p in paths:
        p = os.path.abspath(os.fspath(p))
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p)
                            if not f.startswith(".") and os.path.isfile(os.path.join(p, f)))
        else:
            files.append(p)
    return files


def _tasks(files, out, ext):
    """One task per data set (its first file stands for it) and per picture:
    (kind, source, members, target), the target a picture's output file or the folder a
    data set's files go into: out/NAME for a data set in folder NAME (NAME_2, ... when
    folders of one name elsewhere come first), as the batch tool writes into NAME/proc.
    Also the targets more than one picture would write."""
    tasks, seen, names, folders = [], set(), {}, {}
    for f in files:
        if f in seen:
            continue
        if os.path.isfile(f) and (_is_dicom(f) or _is_sixteen_bit_tiff(f)):
            members = _data_set_members(f)
            seen.update(members)
            folder = os.path.dirname(members[0])
            if folder not in folders:
                base = os.path.basename(folder) or "data"
                name, n = base, 1
                while name in folders.values():
                    n += 1
                    name = "%s_%d" % (base, n)
                folders[folder] = name
            tasks.append(("dataset", members[0], members, os.path.join(out, folders[folder])))
            continue
        seen.add(f)
        stem, suffix = os.path.splitext(os.path.basename(f))
        kind = (ext or suffix.lstrip(".") or "png").lower()
        if kind not in _SAVE_TYPES:
            kind = "pnm" if kind in ("pgm", "pbm") else "png"
        target = os.path.join(out, stem + "." + kind)
        tasks.append(("save", f, [f], target))
        names.setdefault(target, []).append(f)
    return tasks, {t: s for t, s in names.items() if len(s) > 1}


def _stamp_path(out, task):
    key = hashlib.sha1(("%s\0%s\0%s" % (task[0], task[1], task[3])).encode()).hexdigest()
    return os.path.join(out, _STAMPS, key + ".json")


def _file_state(path):
    s = os.stat(path)
    return [s.st_size, s.st_mtime_ns]


def _complete(out, task, params):
    """Whether an earlier run wrote this task's outputs with these settings from these
    sources, and they are all still there with the sizes it wrote."""
    try:
        with open(_stamp_path(out, task)) as f:
            stamp = json.load(f)
        return (stamp["params"] == _jsonable(params)
                and stamp["sources"] == {m: _file_state(m) for m in task[2]}
                and all(os.path.getsize(p) == n for p, n in stamp["outputs"].items())
                and stamp["outputs"])
    except (OSError, ValueError, KeyError, TypeError):
        return False


def _jsonable(params):
    return json.loads(json.dumps(params, sort_keys=True, default=str))


def _process(kind, source, target, params):
    """One data set or picture through the module; the paths written."""
    if kind == "dataset":
        return list(voxmira.process_dataset(source, target, **params))
    stem, suffix = os.path.splitext(target)
    partial = os.path.join(os.path.dirname(target),
                           ".%s.partial-%d%s" % (os.path.basename(stem), os.getpid(), suffix))
    try:
        voxmira.save_processed(source, partial, **params)
        os.replace(partial, target)
    finally:
        if os.path.exists(partial):
            os.remove(partial)
    return [target]


class _Helper:
    """A child process of the worker that runs the module's loader and writer calls in its
    main thread, one request at a time (a line of JSON each way). A file that crashes or
    exhausts the native code ends the child, not the worker (which would take the other
    tasks and the cluster's bookkeeping with it): it is reported, and the next request
    starts a new child."""

    lock = threading.Lock()
    child = None

    @classmethod
    def run(cls, kind, source, target, params):
        with cls.lock:
            if cls.child is None or cls.child.poll() is not None:
                env = dict(os.environ)
                root = os.path.dirname(os.path.dirname(os.path.abspath(voxmira.__file__)))
                env["PYTHONPATH"] = os.pathsep.join([root] + [p for p in [env.get("PYTHONPATH")] if p])
                cls.child = subprocess.Popen([sys.executable, "-m", "voxmira.dask"], stdin=subprocess.PIPE,
                                             stdout=subprocess.PIPE, env=env, text=True)
            child = cls.child
            child.stdin.write(json.dumps([kind, source, target, params]) + "\n")
            child.stdin.flush()
            answer = child.stdout.readline()
            if not answer:
                code = child.wait()
                cls.child = None
                raise RuntimeError("the processing ended the helper process (%s)" % (
                    "signal %d" % -code if code < 0 else "exit status %d" % code))
        written, error = json.loads(answer)
        if error:
            raise RuntimeError(error)
        return written


def _serve():
    """The helper's loop (python3 -m voxmira.dask): requests on stdin, answers on the
    original stdout; anything else printed goes to stderr."""
    answers = os.fdopen(os.dup(1), "w")
    os.dup2(2, 1)
    for line in sys.stdin:
        try:
            answer = [_process(*json.loads(line)), None]
        except Exception as e:
            answer = [None, "%s: %s" % (type(e).__name__, e)]
        answers.write(json.dumps(answer) + "\n")
        answers.flush()


def _run_task(task, out, params):
    """On a worker: process one data set or picture; ("written", [paths]) or ("failed", why).
    A picture is written under a temporary name and renamed, so a file of the final name is
    always complete; a data set counts as complete once its stamp is written."""
    kind, source, members, target = task
    run = _process if threading.current_thread() is threading.main_thread() else _Helper.run
    try:
        if kind == "dataset":
            # The run writes into proc/ beside its source before the files move to `out`,
            # and removes proc/ when it leaves it empty: data sets of one folder take turns.
            from dask.distributed import Lock

            with Lock("voxmira-proc:" + os.path.dirname(source)):
                written = run(kind, source, target, params)
        else:
            written = run(kind, source, target, params)
    except Exception as e:  # the reason goes into the summary; the other files go on
        return "failed", str(e) if isinstance(e, RuntimeError) else "%s: %s" % (type(e).__name__, e)
    if not written:
        return "failed", "nothing was written"
    stamp = {"params": _jsonable(params), "sources": {m: _file_state(m) for m in members},
             "outputs": {p: os.path.getsize(p) for p in written}}
    path = _stamp_path(out, task)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".%d" % os.getpid(), "w") as f:
        json.dump(stamp, f)
    os.replace(path + ".%d" % os.getpid(), path)
    return "written", written


class _TextBar:
    """A one-line progress bar on stderr: [#####     ] 5/10 files, 1 failed."""

    def __init__(self, total, stream=sys.stderr, width=30):
        self.total, self.stream, self.width, self.done, self.failed = total, stream, width, 0, 0
        self.show()

    def step(self, failed):
        self.done += 1
        self.failed += failed
        self.show()

    def show(self):
        filled = self.width * self.done // max(self.total, 1)
        text = "\r[%s%s] %d/%d" % ("#" * filled, " " * (self.width - filled), self.done, self.total)
        if self.failed:
            text += ", %d failed" % self.failed
        self.stream.write(text + ("\n" if self.done == self.total else ""))
        self.stream.flush()


def _client(client, workers):
    """(client, owned): a Client from an address or a new LocalCluster of processes."""
    from dask.distributed import Client, LocalCluster

    if client is None:
        # No dashboard on a fixed port (another cluster may hold it); the nanny's warnings
        # about slow worker exits at close are not the caller's business.
        cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                               processes=True, dashboard_address=":0", silence_logs=logging.ERROR)
        return Client(cluster), True
    if isinstance(client, str):
        return Client(client), True
    return client, False


def process_files(paths, out, client=None, workers=None, ext=None, progress=True, **params):
    """Process files and folders and write the results into the folder `out`, spread over a
    dask.distributed cluster.

    `paths`: a file, a folder (its files, not its subfolders) or a list of them. A DICOM or
    16-bit TIFF file stands for its data set (a numbered series, else for DICOM the folder's
    files), processed once and written as voxmira.process_dataset writes it (as
    `voxmira-batch dataset` into FOLDER/proc; here into out/FOLDER, FOLDER the name of the
    data set's folder); any other picture is processed and written as
    voxmira.save_processed does (as `voxmira-batch process FILE --save`), into
    out/NAME.EXT with EXT the source's type or `ext`.
    `params`: the filter settings of process_dataset / save_processed (filter, size, mask,
    level, ...), the same for every file.
    `client`: a dask.distributed.Client, a scheduler address, or None for a LocalCluster of
    `workers` processes (default: one per core) with one thread each, closed afterwards.
    `progress`: a text bar on stderr (False: none).
    An output whose earlier run completed with the same settings from unchanged sources is
    skipped. A file that fails is reported with its reason; the others go on.
    Returns {"written": [output paths], "skipped": [sources], "failed": {source: reason}}.
    """
    from dask.distributed import as_completed

    out = os.path.abspath(os.fspath(out))
    os.makedirs(out, exist_ok=True)
    files = _expand(paths)
    tasks, clashes = _tasks(files, out, ext)
    summary = {"written": [], "skipped": [], "failed": {}}
    todo = []
    for t in tasks:
        if not os.path.isfile(t[1]):
            summary["failed"][t[1]] = "no such file"
        elif t[3] in clashes:
            summary["failed"][t[1]] = "%s would also be written from %s" % (
                t[3], ", ".join(s for s in clashes[t[3]] if s != t[1]))
        elif _complete(out, t, params):
            summary["skipped"].append(t[1])
        else:
            todo.append(t)
    if not todo:
        return summary
    client, owned = _client(client, workers)
    try:
        futures = {client.submit(_run_task, t, out, params, pure=False, retries=0): t for t in todo}
        bar = _TextBar(len(futures)) if progress else None
        for future in as_completed(futures):
            task = futures[future]
            try:
                state, value = future.result()
            except Exception as e:  # the worker died on it, or the cluster went away
                state, value = "failed", "%s: %s" % (type(e).__name__, e)
            if state == "written":
                summary["written"] += value
            else:
                summary["failed"][task[1]] = value
            if bar:
                bar.step(state != "written")
    finally:
        if owned:
            cluster = getattr(client, "cluster", None)
            client.close()
            if cluster is not None:
                cluster.close()
    return summary


if __name__ == "__main__":
    _serve()
