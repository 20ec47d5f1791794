"""``tonwell.bake``: the command line's baker, run as the ``tonwell-bake`` program.

The baker runs as a child process: it bakes into a temporary folder beside the output and
renames it into place at the end, and on SIGINT it stops its workers and removes that folder.
A KeyboardInterrupt in Python (Ctrl-C, or raised by the progress callback) is passed on to the
baker as SIGINT and waited for, so it leaves no half-written folder; then it is raised again.
"""

import os
import shutil
import signal
import subprocess
import sys

# The stages the baker reports one line each for, in order ("  surface      ... 820 vertices").
STAGES = ("surface", "tetrahedra", "assembly", "eigen solve", "transfer", "loudness", "writing")


class BakeError(RuntimeError):
    """The baker refused its input or failed; the message is the baker's."""


def baker_program():
    """The ``tonwell-bake`` this package runs: $TONWELL_BAKE, else the one of the build tree
    the package was built in, else the one on PATH. Raises BakeError when there is none."""
    candidates = [os.environ.get("TONWELL_BAKE")]
    try:
        from ._programs import BAKE
        candidates.append(BAKE)
    except ImportError:
        pass
    candidates.append(shutil.which("tonwell-bake"))
    for candidate in candidates:
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise BakeError("tonwell-bake is not found: build it (scripts/setup) or set TONWELL_BAKE")


def baker_message(lines, status):
    """The baker's message among its output `lines`: its "tonwell-bake: error: ..." lines, else
    its first other "tonwell-bake: ..." line that is not the bake's header ("A -> B") (a refused
    option, followed by the usage text), else the last lines."""
    errors = [line for line in lines if line.startswith("tonwell-bake: error")]
    if errors:
        return "\n".join(errors)
    own = [line for line in lines if line.startswith("tonwell-bake:") and " -> " not in line]
    if own:
        return own[0]
    return "\n".join(lines[-5:]).strip() or f"tonwell-bake exited with status {status}"


def _terminal_bar(fraction, message):
    width = 30
    filled = int(round(width * fraction))
    sys.stdout.write(f"\r[{'#' * filled}{' ' * (width - filled)}] {100 * fraction:3.0f}% "
                     f"{message[:60]:<60}")
    if fraction >= 1.0:
        sys.stdout.write("\n")
    sys.stdout.flush()


def _stage_of(line):
    words = line.strip()
    for index, stage in enumerate(STAGES):
        if words.startswith(stage + " ") and "..." in words:
            return index
    return None


def bake_arguments(recipe=None, mesh=None, material=None, size=None, band=None, out=None,
                   force=False, workers=None, modes_only=False):
    """The ``tonwell-bake`` arguments ``bake`` runs (after the program's name)."""
    if out is None:
        raise ValueError("bake: out (the scene folder to write) is required")
    if (recipe is None) == (mesh is None):
        raise ValueError("bake: give either a recipe or a mesh (with its material)")
    arguments = []
    if force:
        arguments.append("--force")
    if modes_only:
        arguments.append("--modes-only")
    if workers is not None:
        arguments += ["--workers", str(int(workers))]
    if recipe is not None:
        if material is not None or size is not None or band is not None:
            raise ValueError("bake: material, size and band go with a mesh, not a recipe")
        arguments += [os.fspath(recipe), os.fspath(out)]
        return arguments
    if material is None:
        raise ValueError("bake: a mesh needs its material (steel, aluminium, brass, bronze, "
                         "glass, ceramic, wood or plastic)")
    arguments += ["--mesh", os.fspath(mesh), "--material", str(material)]
    if size is not None:
        arguments += ["--size", repr(float(size))]
    if band is not None:
        arguments += ["--band", repr(float(band))]
    arguments.append(os.fspath(out))
    return arguments


def bake(recipe=None, mesh=None, material=None, size=None, band=None, out=None, progress=None,
         force=False, workers=None, modes_only=False):
    """Bakes a scene folder, as ``tonwell-bake`` does from the command line; returns ``out``.

    - ``recipe``: a recipe file (``tools/bake/recipes/*.json``), or
    - ``mesh`` and ``material`` (steel, aluminium, brass, bronze, glass, ceramic, wood,
      plastic), with ``size`` (metres, the largest extent) and ``band`` (Hz, every mode below).
    - ``out``: the scene folder to write. Name it after the scene (bell, chair, dragon for the
      demo's presets); any other name gets the presets the baker computes (presets.json).
    - ``progress``: called as ``progress(fraction, message)`` after each stage with the
      fraction of the stages done (0 .. 1) and the baker's line; without it, a progress bar is
      drawn when standard output is a terminal.
    - ``force``: bake even when the folder is up to date (otherwise it is left alone);
      ``workers``: the number of worker processes; ``modes_only``: no acoustic transfer.

    Raises BakeError with the baker's message when it refuses its input or fails; the folder
    is then as it was. A KeyboardInterrupt stops the baker, which removes its temporary folder,
    and is raised again.
    """
    command = [baker_program()] + bake_arguments(recipe, mesh, material, size, band, out, force,
                                                 workers, modes_only)
    if progress is None and sys.stdout.isatty():
        progress = _terminal_bar
    # A session of its own: a Ctrl-C at the terminal reaches Python only, which passes it on.
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             text=True, bufsize=1, start_new_session=True)
    output = []
    try:
        for line in child.stdout:
            output.append(line.rstrip("\n"))
            stage = _stage_of(line)
            if progress is not None and stage is not None:
                progress((stage + 1) / len(STAGES), line.strip())
        status = child.wait()
    except BaseException:
        # Interrupted (or the callback failed): the baker removes its temporary folder on
        # SIGINT; wait for it, so nothing half-written is left when the exception goes on.
        if child.poll() is None:
            child.send_signal(signal.SIGINT)
            try:
                child.communicate(timeout=120)
            except subprocess.TimeoutExpired:
                child.kill()
                child.communicate()
        raise
    finally:
        child.stdout.close()
    if status != 0:
        raise BakeError(baker_message(output, status))
    return os.fspath(out)
