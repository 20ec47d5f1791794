"""Scene.transfer at the listener's eye against what the program renders: one mode, soloed,
rings as the closed-form response of a damped oscillator to the strike's held force, scaled by
omega |transfer(eye)| (the "ZEP" gain). Also the scene's arrays against independent readers."""

import os

import numpy as np
import pytest

import tonwell

RATE = 44100.0
MODAL_FORCE_GAIN = 26.0  # the program's scale of a strike's modal force


def held_force_response(t, force, omega, xi, duration):
    """Displacement of q'' + 2 xi omega q' + omega^2 q = force for 0 <= t < duration (unit
    mass, at rest before): the difference of two step responses."""
    omega_d = omega * np.sqrt(1.0 - xi * xi)

    def step(tau):
        tau = np.maximum(tau, 0.0)
        return (1.0 - np.exp(-xi * omega * tau) *
                (np.cos(omega_d * tau) + xi * omega / omega_d * np.sin(omega_d * tau)))

    return force / omega**2 * (step(t) - step(t - duration))


@pytest.mark.parametrize("name,mode", [("chair", 0), ("chair", 5), ("dragon", 3)])
def test_a_soloed_mode_rings_at_omega_times_the_transfer_at_the_eye(scenes, name, mode):
    scene = tonwell.Scene(scenes[name])
    eye = scene.listener["eye"]
    assert np.allclose(scene.listener["rotation"], np.eye(3))  # object frame = world frame
    vertex, direction, magnitude, duration = 30, np.array([0.0, 0.6, 0.8]), 0.4, 10
    at = 0.1  # 20 blocks of 220 frames: the gain has settled long before
    samples = scene.render([{"at": at, "vertex": vertex, "direction": direction,
                             "magnitude": magnitude}], seconds=0.3, solo=mode,
                           impact_duration=duration).astype(np.float64)
    start = int(np.ceil(at * RATE / 220 - 1e-9)) * 220
    assert np.all(samples[:start] == 0.0)

    omega = 2.0 * np.pi * scene.frequencies[mode]
    xi = scene.damping()[mode]
    force = MODAL_FORCE_GAIN * magnitude * direction @ scene.mode_shapes[vertex, :, mode]
    gain = omega * abs(scene.transfer(eye[np.newaxis, :])[mode, 0])
    # Sample n holds the displacement after n - start + 1 steps of the exact resonator.
    t = (np.arange(start, len(samples)) - start + 1) / RATE
    expected = gain * held_force_response(t, force, omega, xi, duration / RATE)
    peak = np.max(np.abs(expected))
    assert peak > 1e-6
    # float32 output: agreement to single precision of the peak.
    np.testing.assert_allclose(samples[start:], expected, rtol=0, atol=2e-6 * peak + 1e-9)


def test_transfer_is_complex_with_the_outgoing_phase(scenes):
    """Far from the object every mode's pressure falls as 1/r with the phase e^{-i k r} of
    an outgoing wave: p(2R) / p(R) -> e^{-i k R} / 2 along a ray."""
    scene = tonwell.Scene(scenes["chair"])
    direction = np.array([0.3, 0.5, 0.81])
    direction /= np.linalg.norm(direction)
    R = 200.0
    p = scene.transfer(np.array([R * direction, 2 * R * direction]))
    assert p.shape == (scene.mode_count, 2) and p.dtype == np.complex128
    k = 2.0 * np.pi * scene.frequencies / 343.0   # a wave number near the baker's (c = 343 m/s)
    ratio = p[:, 1] / p[:, 0]
    np.testing.assert_allclose(np.abs(ratio), 0.5, rtol=2e-2)
    # The phase advances by -k R (mod 2 pi) to within the speed of sound's uncertainty.
    phase_error = np.angle(ratio * np.exp(1j * k * R))
    assert np.all(np.abs(phase_error) < 0.05 * k * R + 0.1)


def test_arrays_match_the_files_read_independently(scenes):
    """Vertices and faces against the OBJ text, frequencies against the report; the mode
    shapes and frequencies are views of the loaded data, not copies."""
    scene = tonwell.Scene(scenes["bell"])
    obj = os.path.join(scenes["bell"], "bell.obj")
    vertices, faces = [], []
    with open(obj) as text:
        for line in text:
            words = line.split()
            if words[:1] == ["v"]:
                vertices.append([float(w) for w in words[1:4]])
            elif words[:1] == ["f"]:
                corners = [int(w.split("/")[0]) - 1 for w in words[1:]]
                faces += [[corners[0], corners[j], corners[j + 1]]
                          for j in range(1, len(corners) - 1)]
    np.testing.assert_array_equal(scene.vertices, np.array(vertices, dtype=np.float32))
    np.testing.assert_array_equal(scene.faces, np.array(faces))
    report = scene.report
    assert len(report["mode"]) == scene.mode_count
    np.testing.assert_allclose(scene.frequencies, report["frequency_hz"], atol=0.006)
    assert set(scene.tiers) <= {"A", "B", "C", "W"}
    assert np.all((report["fit_error"] >= 0) & (report["fit_error"] < 1))

    shapes = scene.mode_shapes
    assert shapes.shape == (len(vertices), 3, scene.mode_count) and shapes.dtype == np.float64
    assert not shapes.flags.owndata and not shapes.flags.writeable
    assert np.shares_memory(shapes, scene.mode_shapes)
    assert not scene.frequencies.flags.owndata
    with pytest.raises(ValueError):
        shapes[0, 0, 0] = 1.0

    # damping(alpha, beta): xi = (alpha + beta omega^2) / (2 omega), the preset by default.
    omega = 2 * np.pi * scene.frequencies
    alpha, beta = scene.preset_damping
    np.testing.assert_allclose(scene.damping(), (alpha + beta * omega**2) / (2 * omega))
    np.testing.assert_allclose(scene.damping(2.0, 0.0), 1.0 / omega)
