"""Scene.render against the tonwell-render program: the same strikes and options give the
program's WAV file sample for sample, on the three quick scenes, mono and stereo."""

import os
import subprocess

import numpy as np
import pytest

import tonwell
from conftest import read_wav, render_program

STRIKES = [
    {"at": 0.0, "vertex": 12},
    {"at": 0.137, "vertex": 40, "direction": (0.2, -1.0, 0.3), "magnitude": 0.6},
    {"at": 0.41, "point": (0.05, 0.3, 0.02)},
]


def program_samples(arguments, wav):
    """Runs tonwell-render on the render's own arguments, writing `wav`; its samples."""
    arguments = list(arguments)
    arguments[arguments.index("-o") + 1] = str(wav)
    finished = subprocess.run([render_program()] + arguments, capture_output=True, text=True)
    assert finished.returncode == 0, finished.stderr
    return read_wav(wav)


@pytest.mark.parametrize("name", ["bell", "chair", "dragon"])
@pytest.mark.parametrize("channels", [1, 2])
def test_render_equals_the_program_bit_for_bit(scenes, tmp_path, name, channels):
    scene = tonwell.Scene(scenes[name])
    samples = scene.render(STRIKES, seconds=0.7, channels=channels)
    assert samples.dtype == np.float32
    assert samples.shape == ((30870,) if channels == 1 else (30870, 2))
    expected = program_samples(scene.render_arguments(STRIKES, 0.7, channels=channels),
                               tmp_path / "out.wav")
    assert np.max(np.abs(expected)) > 1e-4, "the program rendered silence"
    np.testing.assert_array_equal(samples.reshape(expected.shape), expected)


def test_options_and_structured_strikes_render_as_the_program(scenes, tmp_path):
    """The Modal renderer, a listener of one's own, another impact duration, a strike of its
    own duration and the strikes as a numpy structured array."""
    scene = tonwell.Scene(scenes["chair"])
    strikes = np.zeros(2, dtype=[("at", "f8"), ("vertex", "i4"), ("point", "f8", 3),
                                 ("magnitude", "f8"), ("duration", "i4")])
    strikes[0] = (0.02, 100, (0, 0, 0), 0.3, 5)
    strikes[1] = (0.3, -1, (0.1, 0.45, -0.1), 0.5, 0)   # a negative vertex takes the point
    as_dicts = [{"at": 0.02, "vertex": 100, "magnitude": 0.3, "duration": 5},
                {"at": 0.3, "point": (0.1, 0.45, -0.1), "magnitude": 0.5}]
    options = dict(seconds=0.5, listener=(0.5, 0.6, 0.9), renderer="modal", impact_duration=33)
    samples = scene.render(strikes, **options)
    np.testing.assert_array_equal(samples, scene.render(as_dicts, **options))
    expected = program_samples(scene.render_arguments(as_dicts, **options), tmp_path / "m.wav")
    np.testing.assert_array_equal(samples, expected[:, 0])
    # The options change the sound: the default ZEP render of the same strikes differs, and
    # so does the first strike at the render's impact duration.
    assert not np.array_equal(samples, scene.render(as_dicts, seconds=0.5))
    as_dicts[0].pop("duration")
    assert not np.array_equal(samples, scene.render(as_dicts, **options))
