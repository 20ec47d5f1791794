#!/usr/bin/env python3
"""The quick chair in three materials: bake each, strike it once, compare the sounds.

For wood, brass and glass the chair's quick recipe is baked with that material (its own
scene folder, so the baker computes the material's presets: damping, strike, loudness), struck
once at the same vertex, and rendered for one second at the default listener. Printed per
material: the first mode frequencies and the spectral centroid of the rendered strike. With
--plot, and matplotlib installed, the three spectra are drawn (on screen, or into a file with
--plot-file).

    PYTHONPATH=build/python python3 examples/python/material_sweep.py --out build/sweep
"""

import argparse
import json
import os
import sys

import numpy as np

import tonwell

MATERIALS = ("wood", "brass", "glass")
RATE = 44100
RECIPE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "bake",
                      "recipes", "chair-quick.json")


def spectrum(samples):
    """Frequencies (Hz) and magnitudes of the Hann-windowed spectrum of a mono signal."""
    window = np.hanning(len(samples))
    magnitudes = np.abs(np.fft.rfft(samples * window))
    return np.fft.rfftfreq(len(samples), 1.0 / RATE), magnitudes


def spectral_centroid(samples):
    """The magnitude-weighted mean frequency of the spectrum, Hz: sum f |X(f)| / sum |X(f)|."""
    frequencies, magnitudes = spectrum(samples)
    return float(np.sum(frequencies * magnitudes) / np.sum(magnitudes))


def bake_in(material, out, progress=None):
    """Bakes the quick chair in `material` into out/chair_<material>; returns the folder."""
    with open(RECIPE) as file:
        recipe = json.load(file)
    name = f"chair_{material}"
    recipe["name"] = name
    recipe["material"] = material
    folder = os.path.join(out, name)
    os.makedirs(out, exist_ok=True)
    recipe_file = os.path.join(out, f"{name}.json")
    with open(recipe_file, "w") as file:
        json.dump(recipe, file, indent=2)
    return tonwell.bake(recipe_file, out=folder, progress=progress)


def main(arguments=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join("build", "material_sweep"),
                        help="where the scene folders go (default: build/material_sweep)")
    parser.add_argument("--vertex", type=int, default=12, help="the struck vertex (default 12)")
    parser.add_argument("--plot", action="store_true", help="plot the spectra (matplotlib)")
    parser.add_argument("--plot-file", help="with --plot: save the plot here instead of showing")
    options = parser.parse_args(arguments)

    spectra = {}
    for material in MATERIALS:
        scene = tonwell.Scene(bake_in(material, options.out))
        samples = scene.render([{"at": 0.0, "vertex": options.vertex}], seconds=1.0)
        centroid = spectral_centroid(samples)
        first = ", ".join(f"{f:.1f}" for f in scene.frequencies[:4])
        print(f"{material:<10} modes {scene.mode_count}, first {first} Hz; "
              f"spectral centroid {centroid:.1f} Hz; peak {np.max(np.abs(samples)):.4f}")
        spectra[material] = spectrum(samples)

    if options.plot:
        try:
            import matplotlib
            if options.plot_file:
                matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            print("matplotlib is not installed: no plot", file=sys.stderr)
            return 0
        figure, axes = plt.subplots(figsize=(8, 4))
        for material, (frequencies, magnitudes) in spectra.items():
            axes.semilogy(frequencies, magnitudes + 1e-12, label=material)
        axes.set_xlim(0, 2000)
        axes.set_xlabel("frequency (Hz)")
        axes.set_ylabel("|X(f)|")
        axes.set_title("The quick chair struck at one vertex")
        axes.legend()
        if options.plot_file:
            figure.savefig(options.plot_file, dpi=100)
            print(f"Wrote {options.plot_file}")
        else:
            plt.show()
    return 0


if __name__ == "__main__":
    sys.exit(main())
