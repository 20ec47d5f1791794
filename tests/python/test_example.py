"""examples/python/material_sweep.py, run headless as a user would: three bakes, one render
each, a line per material whose first frequency follows the material's wave speed."""

import runpy
import types
import os
import re
import subprocess
import sys

import numpy as np

from conftest import SOURCE_DIR

EXAMPLE = os.path.join(SOURCE_DIR, "examples", "python", "material_sweep.py")
# Young's modulus (Pa) and density (kg/m^3) of the built-in materials the example bakes.
MATERIALS = {"wood": (12e9, 700.0), "brass": (100e9, 8500.0), "glass": (72e9, 2500.0)}


def load_example():
    """The example's functions, without running its main part."""
    return types.SimpleNamespace(**runpy.run_path(EXAMPLE, run_name="material_sweep"))


def test_spectral_centroid_of_a_tone_and_of_two_tones():
    example = load_example()
    t = np.arange(44100) / 44100.0
    assert abs(example.spectral_centroid(np.sin(2 * np.pi * 440.0 * t)) - 440.0) < 2.0
    # Equal amplitudes at 300 and 900 Hz: the mean, 600 Hz.
    two = np.sin(2 * np.pi * 300.0 * t) + np.sin(2 * np.pi * 900.0 * t)
    assert abs(example.spectral_centroid(two) - 600.0) < 3.0


def test_the_sweep_runs_headless_and_its_frequencies_follow_the_wave_speed(tmp_path):
    command = [sys.executable, EXAMPLE, "--out", str(tmp_path / "sweep"), "--plot",
               "--plot-file", str(tmp_path / "spectra.png")]
    environment = dict(os.environ, MPLBACKEND="Agg")
    environment.pop("DISPLAY", None)
    finished = subprocess.run(command, capture_output=True, text=True, env=environment,
                              timeout=300)
    assert finished.returncode == 0, finished.stderr
    rows = re.findall(r"^(\w+) +modes (\d+), first ([\d.]+), .* Hz; spectral centroid ([\d.]+) Hz",
                      finished.stdout, re.MULTILINE)
    assert [row[0] for row in rows] == list(MATERIALS), finished.stdout
    first = {row[0]: float(row[2]) for row in rows}
    centroid = {row[0]: float(row[3]) for row in rows}
    # The same mesh in another material: every frequency scales with sqrt(E / rho) (up to the
    # Poisson ratio's small share).
    speed = {name: np.sqrt(E / rho) for name, (E, rho) in MATERIALS.items()}
    for name in ("brass", "glass"):
        assert abs(first[name] / first["wood"] / (speed[name] / speed["wood"]) - 1) < 0.05
    for name in MATERIALS:
        assert first[name] * 0.8 < centroid[name] < 20 * first[name]
    if "Wrote" in finished.stdout:   # matplotlib installed: the plot was saved
        assert (tmp_path / "spectra.png").stat().st_size > 1000
