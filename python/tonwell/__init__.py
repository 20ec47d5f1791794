"""Tonwell from Python: bake, inspect and render physically based modal sound with numpy.

A baked scene folder (what ``tonwell-bake`` writes) holds an object's vibration modes, their
frequencies and the acoustic transfer of every mode as multipole sources. This package reads
such a folder with the program's own readers and renders strikes on it with
``tonwell-render``'s own offline core, so the samples are the program's, bit for bit:

    >>> import tonwell
    >>> folder = tonwell.bake("tools/bake/recipes/chair-quick.json", out="scenes/chair")
    >>> scene = tonwell.Scene(folder)
    >>> scene.frequencies[:3]                      # Hz
    >>> audio = scene.render([{"at": 0.1, "vertex": 12}], seconds=2.0)   # float32, 44100 Hz

Contents:

- ``Scene(folder)``: frequencies, damping(alpha, beta), vertices, faces, mode_shapes,
  transfer(points), listener, tiers, report, render(strikes, seconds, ...).
- ``bake(recipe=None, mesh=None, material=None, size=None, band=None, out=...)``: the baker.
- ``export(folder, format, out)``: the scene in open formats (npz, glTF).
- ``SceneError``, ``BakeError``: the exceptions for bad scene files and failed bakes.

Units are SI (metres, seconds, hertz); the audio is 44100 Hz, full scale +-1 (1 Pa at the
listener for the "zep" renderer).
"""

from ._tonwell import SceneError
from .baker import BakeError, bake
from .exporter import export
from .scene import Scene

__all__ = ["Scene", "bake", "export", "BakeError", "SceneError"]
