"""Round trips of `tonwell-bake --export`: a quick bake of the chair (with its report) and the
test bell (fixtures, normals on its faces, no report) exported as npz and as glTF binary, read back
with general readers (numpy.load and zipfile; a small glTF reader written here), and every array
compared with the scene's own files, read here from their documented formats: the dense matrix
files (int32 rows, int32 columns, then float64 column by column), the OBJ's "v" and "f" lines, the
transfer list and its ".sources" (11 x n) and ".k" files, and report.txt's per-mode table.

Run directly with `python3 -m pytest tests/python/test_export_roundtrip.py`; the build directory
is $TONWELL_BUILD_DIR, or build/ beside tests/.
"""

import json
import os
import re
import shutil
import struct
import subprocess
import zipfile
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TONWELL_BUILD_DIR", ROOT / "build"))
BAKE = BUILD / "tonwell-bake"
MAKE_TEST_SCENE = BUILD / "tests" / "tonwell_make_test_scene"


# ---------------------------------------------------------------------------------------------
# The scene's own files, read from their documented formats


def dense_matrix(path):
    """A dense matrix file as a (rows, columns) float64 array."""
    raw = Path(path).read_bytes()
    rows, columns = struct.unpack("<ii", raw[:8])
    values = np.frombuffer(raw, dtype="<f8", count=rows * columns, offset=8)
    return values.reshape(columns, rows).T


def obj_mesh(path):
    """The "v" lines as (n, 3) float64 and the "f" lines as (m, 3) 0-based vertex indices."""
    vertices, faces = [], []
    for line in Path(path).read_text().splitlines():
        words = line.split()
        if words and words[0] == "v":
            vertices.append([float(x) for x in words[1:4]])
        elif words and words[0] == "f":
            corners = [int(w.split("/")[0]) - 1 for w in words[1:]]
            faces += [[corners[0], corners[k - 1], corners[k]] for k in range(2, len(corners))]
    return np.array(vertices), np.array(faces)


def transfer(folder):
    """Per mode: its k and its (11, n) sources, through the list the folder holds."""
    (listing,) = Path(folder).glob("*-ZEPObjectsList-*.txt")
    modes = []
    for prefix in listing.read_text().splitlines():
        base = Path(folder).parent / prefix  # prefixes are relative to the folder's parent
        k = dense_matrix(str(base) + ".k")
        modes.append((k[0, 0], dense_matrix(str(base) + ".sources")))
    return modes


def report_rows(folder):
    """report.txt's per-mode table: one dict per row, with the values as printed."""
    rows, in_table = [], False
    for line in (Path(folder) / "report.txt").read_text().splitlines():
        if line.startswith("  mode    frequency  fitted at"):
            in_table = True
            continue
        match = re.match(
            r"\s+(\d+)\s+([\d.]+) Hz\s+([\d.]+)\s+([ABCW])\s+(\d+)\s+(\d+)\s+([\d.]+) %"
            r"\s+([\d.]+) %\s+(\d+)\s+([\d.]+)(.*)$", line)
        if in_table and not match:
            break
        if match:
            g = match.groups()
            rows.append(dict(mode=int(g[0]), frequency=float(g[1]), fit_frequency=float(g[2]),
                             tier=g[3], elements=int(g[4]), sources=int(g[5]),
                             fit_error=float(g[6]), held_out=float(g[7]), gmres=int(g[8]),
                             seconds=float(g[9]), rest=g[10]))
    return rows


# ---------------------------------------------------------------------------------------------
# A small glTF binary reader

COMPONENTS = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4}
COMPONENT_TYPES = {5126: "<f4", 5125: "<u4", 5123: "<u2", 5121: "u1"}


class Glb:
    """A .glb file: its JSON and its accessors as numpy arrays."""

    def __init__(self, path):
        raw = Path(path).read_bytes()
        magic, version, length = struct.unpack("<4sII", raw[:12])
        assert (magic, version, length) == (b"glTF", 2, len(raw))
        json_length, json_type = struct.unpack("<I4s", raw[12:20])
        assert json_type == b"JSON" and json_length % 4 == 0
        self.json = json.loads(raw[20:20 + json_length].decode("utf-8"))
        bin_start = 20 + json_length
        bin_length, bin_type = struct.unpack("<I4s", raw[bin_start:bin_start + 8])
        assert bin_type == b"BIN\0" and bin_start + 8 + bin_length == len(raw)
        self.bin = raw[bin_start + 8:]

    def accessor(self, index):
        accessor = self.json["accessors"][index]
        view = self.json["bufferViews"][accessor["bufferView"]]
        assert "byteStride" not in view  # tightly packed
        start = view["byteOffset"] + accessor.get("byteOffset", 0)
        width = COMPONENTS[accessor["type"]]
        dtype = np.dtype(COMPONENT_TYPES[accessor["componentType"]])
        assert start % dtype.itemsize == 0
        end = start + accessor["count"] * width * dtype.itemsize
        assert end <= view["byteOffset"] + view["byteLength"]
        values = np.frombuffer(self.bin[start:end], dtype=dtype)
        return values if width == 1 else values.reshape(-1, width)


# ---------------------------------------------------------------------------------------------
# The scenes and their exports


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300)


@pytest.fixture(scope="module")
def scenes(tmp_path_factory):
    if not BAKE.exists() or not MAKE_TEST_SCENE.exists():
        pytest.fail(f"build {BAKE} and {MAKE_TEST_SCENE} first")
    root = tmp_path_factory.mktemp("export")
    baked = run(BAKE, "--quiet", "--workers", "1", ROOT / "tools/bake/recipes/chair-quick.json",
                root / "quick" / "chair")
    assert baked.returncode == 0, baked.stderr
    made = run(MAKE_TEST_SCENE, root / "test", "bell")
    assert made.returncode == 0, made.stderr
    return {"quick chair": root / "quick" / "chair", "test bell": root / "test" / "bell"}


@pytest.fixture(scope="module", params=["quick chair", "test bell"])
def exported(request, scenes, tmp_path_factory):
    """(scene folder, npz path, glb path) of one scene exported both ways."""
    folder = scenes[request.param]
    out = tmp_path_factory.mktemp("out")
    for fmt, name in (("npz", "scene.npz"), ("gltf", "scene.glb")):
        done = run(BAKE, "--export", fmt, folder, out / name)
        assert done.returncode == 0, done.stderr
        assert f"({fmt}, {(out / name).stat().st_size} bytes)" in done.stdout
    return folder, out / "scene.npz", out / "scene.glb"


def scene_files(folder):
    name = folder.name
    u = dense_matrix(folder / f"{name}.U")
    f = dense_matrix(folder / f"{name}.freq")[:, 0]
    vertices, faces = obj_mesh(folder / f"{name}.obj")
    return u, f, vertices, faces, transfer(folder)


def test_npz_holds_the_scene_files_bit_for_bit(exported):
    folder, npz_path, _ = exported
    with zipfile.ZipFile(npz_path) as archive:
        assert archive.testzip() is None  # every member's CRC-32 checks
    if shutil.which("unzip"):
        tested = run("unzip", "-t", npz_path)
        assert tested.returncode == 0 and "No errors detected" in tested.stdout, tested.stdout
    data = np.load(npz_path)
    u, f, vertices, faces, modes = scene_files(folder)
    n, r = vertices.shape[0], f.size

    np.testing.assert_array_equal(data["frequencies"], f)
    np.testing.assert_array_equal(data["vertices"], vertices)
    np.testing.assert_array_equal(data["faces"], faces)
    assert data["faces"].dtype == np.int32
    assert data["mode_shapes"].shape == (n, 3, r)
    # Row 3v + a of ".U" is axis a of vertex v.
    np.testing.assert_array_equal(data["mode_shapes"], u.reshape(n, 3, r))

    # The transfer: mode j's sources are rows offsets[j]:offsets[j + 1].
    offsets = data["transfer_offsets"]
    assert offsets[0] == 0 and offsets.size == r + 1
    np.testing.assert_array_equal(data["transfer_wave_numbers"], [k for k, _ in modes])
    for j, (_, sources) in enumerate(modes):
        rows = slice(offsets[j], offsets[j + 1])
        np.testing.assert_array_equal(data["transfer_positions"][rows], sources[0:3].T)
        coefficients = sources[3::2].T + 1j * sources[4::2].T  # a0 .. a3
        np.testing.assert_array_equal(data["transfer_coefficients"][rows], coefficients)

    # Rayleigh damping: each mode's c_j = alpha + beta omega_j^2.
    alpha, beta = float(data["damping_alpha"]), float(data["damping_beta"])
    assert alpha > 0 and beta > 0
    np.testing.assert_allclose(data["damping"], alpha + beta * (2 * np.pi * f) ** 2, rtol=1e-12)


def test_npz_carries_the_reports_table_where_there_is_one(exported):
    folder, npz_path, _ = exported
    data = np.load(npz_path)
    if not (folder / "report.txt").exists():
        assert "tiers" not in data.files and not any(k.startswith("report_") for k in data.files)
        assert np.isnan(data["force_unit"])
        return
    text = (folder / "report.txt").read_text()
    rows = report_rows(folder)
    assert len(rows) == data["frequencies"].size
    assert "".join(row["tier"] for row in rows) == data["tiers"].tobytes().decode()
    for key, column in (("mode", "report_mode"), ("frequency", "report_frequency_Hz"),
                        ("fit_frequency", "report_fit_frequency_Hz"),
                        ("elements", "report_elements"), ("sources", "report_sources"),
                        ("fit_error", "report_fit_error_percent"),
                        ("held_out", "report_held_out_error_percent"),
                        ("gmres", "report_gmres_iterations"), ("seconds", "report_unit_seconds")):
        np.testing.assert_array_equal(data[column], [row[key] for row in rows], err_msg=column)
    # The sources each mode stores are the ones its row counts.
    np.testing.assert_array_equal(np.diff(data["transfer_offsets"]), data["report_sources"])
    unit = float(re.search(r"force unit: (\S+) N", text).group(1))
    assert float(data["force_unit"]) == unit
    # The preset damping the report's loudness section struck with (single precision presets).
    match = re.search(r"Rayleigh alpha (\S+) 1/s, beta (\S+) s", text)
    assert float(data["damping_alpha"]) == float(np.float32(match.group(1)))
    assert float(data["damping_beta"]) == float(np.float32(match.group(2)))


def test_glb_holds_the_scene_as_floats_an_engine_reads_without_our_code(exported):
    folder, npz_path, glb_path = exported
    glb = Glb(glb_path)
    gltf = glb.json
    assert gltf["asset"]["version"] == "2.0"
    assert "TONWELL_modal_sound" in gltf["extensionsUsed"]
    u, f, vertices, faces, modes = scene_files(folder)
    n, r = vertices.shape[0], f.size

    (primitive,) = gltf["meshes"][gltf["nodes"][0]["mesh"]]["primitives"]
    positions = glb.accessor(primitive["attributes"]["POSITION"])
    np.testing.assert_array_equal(positions, vertices.astype(np.float32))
    position_accessor = gltf["accessors"][primitive["attributes"]["POSITION"]]
    np.testing.assert_array_equal(position_accessor["min"], positions.min(axis=0))
    np.testing.assert_array_equal(position_accessor["max"], positions.max(axis=0))
    np.testing.assert_array_equal(glb.accessor(primitive["indices"]), faces.ravel())

    modal = primitive["extensions"]["TONWELL_modal_sound"]
    assert modal["modeCount"] == r and len(modal["modes"]) == r
    np.testing.assert_array_equal(glb.accessor(modal["frequencies"]), f.astype(np.float32))
    np.testing.assert_array_equal(glb.accessor(modal["waveNumbers"]),
                                  np.float32([k for k, _ in modes]))
    data = np.load(npz_path)
    assert modal["rayleighDamping"]["alpha"] == float(data["damping_alpha"])
    assert modal["rayleighDamping"]["beta"] == float(data["damping_beta"])
    if (folder / "report.txt").exists():
        assert modal["forceUnit"] == float(data["force_unit"])
        assert modal["tiers"] == "".join(row["tier"] for row in report_rows(folder))
    else:
        assert "forceUnit" not in modal and "tiers" not in modal

    for j, (mode, (_, sources)) in enumerate(zip(modal["modes"], modes)):
        # Mode j's shape: one VEC3 per vertex, column j of ".U".
        np.testing.assert_array_equal(glb.accessor(mode["shape"]),
                                      u[:, j].reshape(n, 3).astype(np.float32))
        assert mode["sourceCount"] == sources.shape[1]
        np.testing.assert_array_equal(glb.accessor(mode["sourcePositions"]),
                                      sources[0:3].T.astype(np.float32))
        np.testing.assert_array_equal(glb.accessor(mode["sourceCoefficientsReal"]),
                                      sources[3::2].T.astype(np.float32))
        np.testing.assert_array_equal(glb.accessor(mode["sourceCoefficientsImaginary"]),
                                      sources[4::2].T.astype(np.float32))


def test_bad_exports_fail_with_a_message_and_leave_no_file(scenes, tmp_path):
    out = tmp_path / "x.npz"
    missing = run(BAKE, "--export", "npz", tmp_path / "nowhere", out)
    assert missing.returncode == 1 and "nowhere: no such scene folder" in missing.stderr
    broken = tmp_path / "demo" / "bell"
    shutil.copytree(scenes["test bell"], broken)
    shape_file = broken / "bell.U"
    shape_file.write_bytes(shape_file.read_bytes()[:100])  # a truncated matrix
    truncated = run(BAKE, "--export", "gltf", broken, out)
    assert truncated.returncode == 1 and str(shape_file) in truncated.stderr
    unknown = run(BAKE, "--export", "obj", scenes["test bell"], out)
    assert unknown.returncode == 1 and 'unknown export format "obj"' in unknown.stderr
    assert not out.exists()
    assert run(BAKE, "--export", "npz", scenes["test bell"]).returncode == 2


def pressure(x, positions, coefficients, k, bound=False):
    """Mode pressure at x from its sources, as docs/gltf-extension.md writes the sum; with
    `bound`, the sum of its terms' magnitudes instead (the scale of its rounding)."""
    d = np.asarray(x, dtype=np.float64) - positions
    rho = np.hypot(d[:, 0], d[:, 1])
    r = np.hypot(rho, d[:, 2])
    z = k * r
    h0 = (np.sin(z) + 1j * np.cos(z)) / z
    h1 = ((np.sin(z) / z - np.cos(z)) + 1j * (np.cos(z) / z + np.sin(z))) / z
    e = np.where(rho > 0, (d[:, 0] + 1j * d[:, 1]) / np.where(rho > 0, rho, 1), 1)
    a = coefficients
    if bound:
        return np.sum(np.abs(a[:, 0] * h0) + np.abs(h1) * np.sum(np.abs(a[:, 1:]), axis=1))
    return np.sum(a[:, 0] * h0 + h1 * (a[:, 1] * d[:, 2] / r +
                                       (a[:, 2] * np.conj(e) - a[:, 3] * e) * rho / r))


def test_documented_transfer_sum_gives_the_closed_form_and_the_glb_agrees(exported):
    folder, npz_path, glb_path = exported
    data = np.load(npz_path)
    modal = Glb(glb_path).json["meshes"][0]["primitives"][0]["extensions"]["TONWELL_modal_sound"]
    glb = Glb(glb_path)
    listener = np.array([0.3, -0.4, 1.2])
    offsets = data["transfer_offsets"]
    for j, k in enumerate(data["transfer_wave_numbers"]):
        rows = slice(offsets[j], offsets[j + 1])
        p = pressure(listener, data["transfer_positions"][rows],
                     data["transfer_coefficients"][rows], k)
        if not (folder / "report.txt").exists():
            # The test scene (no report): one order-0 source of strength 1000 at the origin per mode, whose
            # pressure is 1000 h0(k r), of magnitude 1000 / (k r), phase i e^{-i k r}.
            r = np.linalg.norm(listener)
            np.testing.assert_allclose(p, 1000 * 1j * np.exp(-1j * k * r) / (k * r), rtol=1e-12)
        # An engine reading the float32 accessors hears the same mode within float rounding.
        mode = modal["modes"][j]
        coefficients = (glb.accessor(mode["sourceCoefficientsReal"]).astype(np.float64) +
                        1j * glb.accessor(mode["sourceCoefficientsImaginary"]))
        p32 = pressure(listener, glb.accessor(mode["sourcePositions"]).astype(np.float64),
                       coefficients, float(glb.accessor(modal["waveNumbers"])[j]))
        scale = pressure(listener, data["transfer_positions"][rows],
                         data["transfer_coefficients"][rows], k, bound=True)
        assert abs(p32 - p) <= 1e-5 * scale, (j, p, p32, scale)
