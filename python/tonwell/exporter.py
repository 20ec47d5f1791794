"""Scene folders in open formats, through the baker's ``--export``."""

import os
import subprocess

from .baker import BakeError, baker_message, baker_program


def export(folder, format, out):
    """Exports the baked scene ``folder`` as ``format`` ("npz" or "gltf") into the file ``out``.

    Runs ``tonwell-bake --export FORMAT FOLDER OUT``, the baker's exporter (the npz arrays
    named as this package names them; the glTF binary with its modal extension). Returns
    ``out``. Raises BakeError with the baker's message when it refuses, for example a baker
    built without the exporter.
    """
    if format not in ("npz", "gltf"):
        raise ValueError(f"export: format must be 'npz' or 'gltf', not {format!r}")
    command = [baker_program(), "--export", format, os.fspath(folder), os.fspath(out)]
    finished = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, check=False)
    if finished.returncode != 0:
        raise BakeError(baker_message(finished.stdout.splitlines(), finished.returncode))
    return os.fspath(out)
