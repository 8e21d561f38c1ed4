"""Veraxo's voice analysis from Python: a thin layer over libveraxo's C interface.

    import veraxo
    lie_level, spectrum = veraxo.analyze_file("call.wav")
    engine = veraxo.Engine()
    lie_level, spectrum = engine.push(samples)  # int16, mono, 8000 Hz

Results are numpy float32 arrays: the lie level of each 16 ms frame, shape (n,), and its 32-band log-mel
spectrum, shape (n, 32); the values are those of veraxo-analyze's CSV. A failed analysis raises
veraxo.Error; arguments of the wrong kind raise TypeError or ValueError, as Python's own functions do.

The library is looked for beside this package (where the installation put it), then through the
loader's own search path.
"""

import ctypes
import os
import threading

import numpy as np

__all__ = ["Error", "Engine", "analyze_file", "__version__"]

BANDS = 32
HOP = 128


class Error(Exception):
    """A failure of the analysis; the message names the reason."""


class _Frame(ctypes.Structure):
    _fields_ = [("lie_level", ctypes.c_float), ("spectrum", ctypes.c_float * BANDS)]


def _load():
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        from . import _location

        soname, places = _location.SONAME, [here, os.path.join(here, _location.LIBDIR)]
    except ImportError:
        soname, places = "libveraxo.so.0", [here]
    reasons = []
    for place in places:
        candidate = os.path.normpath(os.path.join(place, soname))
        if os.path.exists(candidate):
            try:
                return ctypes.CDLL(candidate)
            except OSError as e:
                reasons.append(str(e))
    try:
        return ctypes.CDLL(soname)
    except OSError as e:
        reasons.append(str(e))
    raise ImportError("veraxo: cannot load the library: " + "; ".join(reasons))


_lib = _load()
_lib.vx_version.restype = ctypes.c_char_p
_lib.vx_version.argtypes = []
_lib.vx_engine_new.restype = ctypes.c_void_p
_lib.vx_engine_new.argtypes = []
_lib.vx_engine_free.restype = None
_lib.vx_engine_free.argtypes = [ctypes.c_void_p]
_lib.vx_engine_push.restype = ctypes.c_long
_lib.vx_engine_push.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_size_t]
_lib.vx_analyze_file.restype = ctypes.c_int
_lib.vx_analyze_file.argtypes = [
    ctypes.c_char_p,
    ctypes.POINTER(ctypes.POINTER(_Frame)),
    ctypes.POINTER(ctypes.c_size_t),
    ctypes.c_char_p,
    ctypes.c_size_t,
]
_lib.vx_frames_free.restype = None
_lib.vx_frames_free.argtypes = [ctypes.POINTER(_Frame)]

__version__ = _lib.vx_version().decode()

_FRAME_DTYPE = np.dtype([("lie_level", np.float32), ("spectrum", np.float32, (BANDS,))])
assert _FRAME_DTYPE.itemsize == ctypes.sizeof(_Frame)


def _split(frames):
    """(lie_level (n,), spectrum (n, 32)) as float32 arrays of their own."""
    return np.array(frames["lie_level"], dtype=np.float32), np.array(frames["spectrum"], dtype=np.float32)


def analyze_file(path):
    """Analyses an audio file as veraxo-analyze does; returns (lie_level, spectrum)."""
    name = os.fsencode(path)
    if b"\0" in name:
        raise ValueError("embedded null byte")
    frames = ctypes.POINTER(_Frame)()
    count = ctypes.c_size_t(0)
    err = ctypes.create_string_buffer(1024)
    if _lib.vx_analyze_file(name, ctypes.byref(frames), ctypes.byref(count), err, len(err)) != 0:
        raise Error(err.value.decode(errors="replace") or "analysis failed")
    try:
        n = count.value
        if n == 0:
            return _split(np.zeros(0, dtype=_FRAME_DTYPE))
        raw = ctypes.cast(frames, ctypes.POINTER(ctypes.c_char * (n * _FRAME_DTYPE.itemsize))).contents
        return _split(np.frombuffer(raw, dtype=_FRAME_DTYPE, count=n))
    finally:
        _lib.vx_frames_free(frames)


class Engine:
    """One stream of 16-bit mono 8000 Hz samples, fed in pieces of any size.

    The library runs without the interpreter lock, so calls from several threads are taken one at a time.
    """

    def __init__(self):
        self._lock = threading.Lock()
        self._engine = _lib.vx_engine_new()
        if not self._engine:
            raise Error("out of memory")

    def push(self, samples):
        """Feeds int16 samples; returns (lie_level, spectrum) of the frames they complete."""
        data = np.asarray(samples)
        if data.ndim != 1:
            raise ValueError("samples must be a one-dimensional array, not %d-dimensional" % data.ndim)
        if data.dtype != np.int16:
            if data.size and not np.issubdtype(data.dtype, np.integer):
                raise TypeError("samples must be 16-bit integers, not %s" % data.dtype)
            if data.size and (data.min() < -32768 or data.max() > 32767):
                raise ValueError("samples must be 16-bit integers; some are out of range")
            data = data.astype(np.int16)
        data = np.ascontiguousarray(data)
        room = data.size // HOP + 1
        frames = np.zeros(room, dtype=_FRAME_DTYPE)
        with self._lock:
            if self._engine is None:
                raise Error("the engine is closed")
            n = _lib.vx_engine_push(self._engine, data.ctypes.data, data.size, frames.ctypes.data, room)
        if n < 0:
            raise Error("out of memory; the engine cannot go on")
        return _split(frames[:n])

    def close(self):
        """Releases the engine; further pushes raise Error."""
        lock = getattr(self, "_lock", None)
        if lock is None:
            return
        with lock:
            if getattr(self, "_engine", None) is not None:
                _lib.vx_engine_free(self._engine)
                self._engine = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()
