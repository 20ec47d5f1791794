"""tonwell.export: the module's way to the baker's exporter, read back and compared with what the
module itself reads from the same scene folder."""

import numpy as np
import pytest

import tonwell


def test_export_from_python_matches_the_scene(scenes, tmp_path):
    scene = tonwell.Scene(scenes["chair"])
    archive = tonwell.export(scenes["chair"], "npz", tmp_path / "chair.npz")
    with np.load(archive) as arrays:
        np.testing.assert_array_equal(arrays["frequencies"], scene.frequencies)
        np.testing.assert_array_equal(arrays["mode_shapes"], scene.mode_shapes)
        np.testing.assert_array_equal(arrays["faces"], scene.faces)
        # The archive's damping is c_i = alpha + beta omega_i^2, the module's the ratio c_i / 2 omega_i.
        omega = 2 * np.pi * scene.frequencies
        np.testing.assert_allclose(arrays["damping"] / (2 * omega), scene.damping(), rtol=1e-12)
        assert (float(arrays["damping_alpha"]), float(arrays["damping_beta"])) == \
            scene.preset_damping
    binary = tonwell.export(scenes["chair"], "gltf", tmp_path / "chair.glb")
    with open(binary, "rb") as f:
        assert f.read(4) == b"glTF"


def test_export_refuses_with_the_bakers_message(tmp_path):
    with pytest.raises(ValueError, match="npz"):
        tonwell.export(tmp_path, "obj", tmp_path / "x.obj")
    with pytest.raises(tonwell.BakeError, match="nowhere"):
        tonwell.export(tmp_path / "nowhere", "npz", tmp_path / "x.npz")
