"""``tonwell.Scene``: a baked scene folder as numpy arrays, and strikes rendered on it."""

import os

import numpy as np

from . import _tonwell
from .report import read_report_table
from .strikes import strike_texts

_RENDERERS = {"zep": "ZEP", "modal": "Modal"}


class Scene:
    """A baked scene folder, read with the program's own readers.

    ``Scene(folder)`` reads the folder the way ``tonwell-render`` does: a folder named bell,
    chair or dragon takes that scene's fixed preset (damping, camera, strike magnitude), any
    other folder the ``presets.json`` the baker writes for it. Raises FileNotFoundError for a
    folder that does not exist and ``tonwell.SceneError`` with the reader's message (naming the
    file) for a missing or broken file.

    Arrays (read-only; views of the loaded data unless said otherwise):

    - ``frequencies``: (modes,) float64, Hz.
    - ``mode_shapes``: (vertices, 3, modes) float64, the ``.U`` matrix: mass-normalised mode
      shapes (U^T M U = I) times the scene's force unit. A view with strides
      (24, 8, 24 * vertices) bytes.
    - ``vertices``: (vertices, 3) float32, metres, the mesh as the OBJ reader holds it (single
      precision, as the program uses it): a view.
    - ``faces``: (triangles, 3) int32, 0-based vertex indices: a copy, as the reader keeps
      normal and texture indices between them.
    - ``transfer(points)``: (modes, N) complex128.
    - ``tiers`` and ``report``: from the baker's report.
    """

    def __init__(self, folder):
        self._data = _tonwell.SceneData(os.fspath(folder))
        self._listener = None

    def __repr__(self):
        return (f"Scene({self.folder!r}: {self.mode_count} modes, "
                f"{self.vertices.shape[0]} vertices)")

    @property
    def folder(self):
        """The scene folder, as an absolute path."""
        return self._data.folder

    @property
    def name(self):
        """The scene's name: the folder's last component."""
        return self._data.name

    @property
    def mode_count(self):
        """The number of modes."""
        return self._data.frequencies.shape[0]

    @property
    def frequencies(self):
        """Mode frequencies in Hz, shape (modes,), float64 (a read-only view)."""
        return self._data.frequencies

    @property
    def mode_shapes(self):
        """Mode shapes, shape (vertices, 3, modes), float64 (a read-only view of ``.U``).

        ``mode_shapes[v, :, j]`` is the displacement of vertex v in mode j: the mass-normalised
        shape times the scene's force unit, so the modal force of a strike of magnitude F along
        the unit vector d at vertex v is ``F * d @ mode_shapes[v, :, j]``.
        """
        return self._data.mode_shapes

    @property
    def vertices(self):
        """Mesh vertices in metres, shape (vertices, 3), float32 (a read-only view)."""
        return self._data.vertices

    @property
    def faces(self):
        """Mesh triangles as 0-based vertex indices, shape (triangles, 3), int32 (a copy)."""
        return self._data.faces

    @property
    def has_transfer(self):
        """Whether the folder holds the acoustic transfer (False after ``--modes-only``)."""
        return self._data.has_transfer

    @property
    def preset_damping(self):
        """The preset's Rayleigh coefficients (alpha in 1/s, beta in s) the render uses."""
        return self._data.mass_damping, self._data.stiffness_damping

    @property
    def preset_magnitude(self):
        """The preset strike's magnitude (program force units): a strike's default."""
        return self._data.impact_magnitude

    def damping(self, alpha=None, beta=None):
        """Each mode's damping ratio under Rayleigh damping, shape (modes,), float64.

        Mode i of angular frequency omega_i = 2 pi f_i decays with c_i = alpha + beta omega_i^2
        (unit modal mass: q'' + c q' + omega^2 q = f), so its damping ratio is
        xi_i = c_i / (2 omega_i) and its amplitude falls as exp(-xi_i omega_i t). ``alpha``
        (1/s) and ``beta`` (s) default to the scene's preset. A mode with xi >= 1 is not
        underdamped: the program keeps it silent.
        """
        preset_alpha, preset_beta = self.preset_damping
        alpha = preset_alpha if alpha is None else float(alpha)
        beta = preset_beta if beta is None else float(beta)
        if not (np.isfinite(alpha) and np.isfinite(beta)):
            raise ValueError(f"damping: alpha {alpha} and beta {beta} must be finite")
        omega = 2.0 * np.pi * self.frequencies
        return (alpha + beta * omega**2) / (2.0 * omega)

    def transfer(self, points):
        """The complex pressure of every mode at N points, shape (modes, N), complex128.

        ``points`` is an (N, 3) array in the object's own frame, metres (the world frame for
        every scene but the bell, which hangs under its pivot: see ``listener``). The value is
        the sum of the mode's multipole sources there (outgoing spherical Hankel functions of
        the second kind, e^{+i omega t}); ``abs`` of it is what the "zep" renderer multiplies
        by omega_i to weigh the mode at the listener. Raises ValueError for another shape or a
        non-finite coordinate, SceneError for a folder without transfer.
        """
        return self._data.transfer(points)

    @property
    def listener(self):
        """The render's default listener and the object's rest pose, as a dict of arrays.

        ``eye`` (mono), ``left_ear``, ``right_ear`` (stereo): world metres, from the scene's
        start camera; ``rotation`` (3 x 3) and ``translation``: the pose at rest,
        world = rotation @ p + translation for p in the object's frame.
        """
        if self._listener is None:
            self._listener = _tonwell.listener([self.folder, "-o", "unused.wav"])
        return {key: value.copy() for key, value in self._listener.items()}

    @property
    def report(self):
        """The baker's per-mode table (report.txt) as a dict of numpy arrays.

        Keys: mode, frequency_hz, fitted_at_hz, tier, elements, sources, fit_error,
        held_out_error (fractions), gmres_iterations, unit_seconds, at_source_cap,
        above_tolerance, converged. See ``tonwell.report.read_report_table``.
        """
        return read_report_table(self.folder)

    @property
    def tiers(self):
        """Each mode's transfer tier from the report, shape (modes,), str: "A" dense or "B"
        compressed boundary elements, "W" the wave equation, "C" the high-frequency
        approximation."""
        return self.report["tier"]

    def render_arguments(self, strikes, seconds, listener=None, renderer="zep", channels=1,
                         impact_duration=10, solo=None, modes=None):
        """The ``tonwell-render`` arguments (after the program's name) ``render`` runs.

        ``["FOLDER", "-o", "OUT.wav", "--strike", ...]``: the same list given to the program
        (with a real output name) writes the samples ``render`` returns.
        """
        arguments = [self.folder, "-o", "out.wav"]
        for text in strike_texts(strikes):
            arguments += ["--strike", text]
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float, np.number)):
            raise ValueError(f"seconds must be a number, not {seconds!r}")
        arguments += ["--length", repr(float(seconds))]
        if not isinstance(renderer, str) or renderer.lower() not in _RENDERERS:
            raise ValueError(f"renderer must be 'zep' or 'modal', not {renderer!r}")
        arguments += ["--renderer", _RENDERERS[renderer.lower()]]
        if channels not in (1, 2) or isinstance(channels, bool):
            raise ValueError(f"channels must be 1 (mono) or 2 (stereo), not {channels!r}")
        arguments.append("--mono" if channels == 1 else "--stereo")
        if isinstance(impact_duration, bool) or not isinstance(impact_duration, (int, np.integer)):
            raise ValueError(f"impact_duration must be an integer, not {impact_duration!r}")
        arguments += ["--impact-duration", str(int(impact_duration))]
        if listener is not None:
            point = np.asarray(listener, dtype=float)
            if point.shape != (3,) or not np.all(np.isfinite(point)):
                raise ValueError(f"listener must be three finite numbers, not {listener!r}")
            arguments += ["--listener", ",".join(repr(float(v)) for v in point)]
        if solo is not None:
            arguments += ["--solo", str(int(solo))]
        if modes is not None:
            arguments += ["--modes", str(int(modes))]
        return arguments

    def render(self, strikes, seconds, listener=None, renderer="zep", channels=1,
               impact_duration=10, solo=None, modes=None):
        """Renders strikes on the scene with tonwell-render's core; float32 samples at 44100 Hz.

        - ``strikes``: a list of dicts with the command line's keys (``at`` seconds, ``vertex``
          or ``point``, ``direction`` (x, y, z) or "listener", ``magnitude``), or a numpy
          structured array with those fields (a negative ``vertex`` takes the row's point).
        - ``seconds``: the length of the output.
        - ``listener``: the eye in world metres (default: the scene's start camera).
        - ``renderer``: "zep" (omega times the acoustic transfer) or "modal" (1/distance).
        - ``channels``: 1 (mono, at the eye) or 2 (stereo, at the ears; always "zep").
        - ``impact_duration``: samples a strike's force acts, 1 .. 256.
        - ``solo``: hear only this mode (0-based); ``modes``: synthesise modes 0 .. modes-1.

        Returns shape (frames,) for mono, (frames, 2) for stereo: the samples of the WAV file
        ``tonwell-render`` writes for the same strikes and options. Raises ValueError with the
        command line's message for a NaN, an out-of-range value or a vertex outside the mesh.
        """
        arguments = self.render_arguments(strikes, seconds, listener, renderer, channels,
                                          impact_duration, solo, modes)
        return _tonwell.render(arguments)
