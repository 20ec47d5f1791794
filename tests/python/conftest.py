"""Shared fixtures of the Python module's tests: the module (or a clean skip when it was not
built), the repository's paths, and the three quick scenes baked once per test session."""

import glob
import os
import struct
import sys

import numpy as np
import pytest

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RECIPES = os.path.join(SOURCE_DIR, "tools", "bake", "recipes")


def _module_built():
    for directory in sys.path:
        if glob.glob(os.path.join(directory or ".", "tonwell", "_tonwell*.so")):
            return True
    return False


if not _module_built():
    pytest.skip("the tonwell module was not built (pybind11 or Python headers missing); "
                "run with PYTHONPATH=build/python", allow_module_level=True)

import tonwell  # noqa: E402  (after the skip: an import that fails on a built module fails)


@pytest.fixture(scope="session")
def scenes(tmp_path_factory):
    """The quick bell, chair and dragon, baked by tonwell.bake: {name: folder}."""
    root = tmp_path_factory.mktemp("scenes")
    folders = {}
    for name in ("bell", "chair", "dragon"):
        folders[name] = tonwell.bake(os.path.join(RECIPES, f"{name}-quick.json"),
                                     out=str(root / name))
    return folders


def render_program():
    """The tonwell-render of the build the module belongs to."""
    from tonwell import _programs
    return _programs.RENDER


def read_wav(path):
    """Samples of a WAV file as float32 (frames, channels), read from its RIFF chunks: 32-bit
    float (format 3) or 16-bit PCM (format 1) scaled to +-1."""
    with open(path, "rb") as wav:
        data = wav.read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", f"{path}: not a WAV file"
    position, fmt, samples = 12, None, None
    while position + 8 <= len(data):
        chunk, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        body = data[position + 8:position + 8 + size]
        if chunk == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
        elif chunk == b"data":
            samples = body
        position += 8 + size + (size & 1)
    assert fmt is not None and samples is not None, f"{path}: no fmt or data chunk"
    format_tag, channels, rate, _, _, bits = fmt
    assert rate == 44100
    if format_tag == 1 and bits == 16:
        values = np.frombuffer(samples, dtype="<i2").astype(np.float32) / 32768.0
    else:
        # WAVE_FORMAT_IEEE_FLOAT, or WAVE_FORMAT_EXTENSIBLE around it.
        assert bits == 32 and format_tag in (3, 0xFFFE), f"{path}: format {format_tag}/{bits}"
        values = np.frombuffer(samples, dtype="<f4")
    return values.reshape(-1, channels)
