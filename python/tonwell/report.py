"""The baker's per-mode table from a scene folder's ``report.txt``, as numpy arrays.

The table is the part of the report written in fixed columns (tools/bake/output/bake_report.cpp):

    mode    frequency  fitted at tier elements sources  fit err  held-out  GMRES  unit s  ...
       1     165.92 Hz    165.92    A      298       5   11.99 %    4.03 %     44     0.5

followed, per row, by optional check columns and the flags "cap", "above" and "not converged".
Only the fixed columns and the flags are read; the prose around the table is not parsed.
"""

import os
import re

import numpy as np

_HEADER = re.compile(r"^\s*mode\s+frequency\s+fitted at\s+tier\b")
_ROW = re.compile(
    r"^\s*(?P<mode>\d+)\s+(?P<frequency>\S+) Hz\s+(?P<fitted>\S+)\s+(?P<tier>[A-Z])\s+"
    r"(?P<elements>-?\d+)\s+(?P<sources>-?\d+)\s+(?P<fit>\S+) %\s+(?P<held>\S+) %\s+"
    r"(?P<gmres>-?\d+)\s+(?P<seconds>\S+)(?P<rest>.*)$")


def read_report_table(folder):
    """The per-mode table of ``folder``/report.txt as a dict of equal-length numpy arrays.

    Keys: ``mode`` (1-based, int), ``frequency_hz``, ``fitted_at_hz``, ``tier`` (str: "A"
    dense or "B" compressed boundary elements, "W" the wave equation, "C" the high-frequency
    approximation), ``elements``, ``sources``, ``gmres_iterations`` (int), ``fit_error`` and
    ``held_out_error`` (fractions, not per cent), ``unit_seconds``, ``at_source_cap``,
    ``above_tolerance``, ``converged`` (bool). A report without a table (a ``--modes-only``
    bake) gives arrays of length 0. Raises FileNotFoundError without a report and ValueError
    naming the file and line for a table row that does not read.
    """
    path = os.path.join(os.fspath(folder), "report.txt")
    columns = {key: [] for key in ("mode", "frequency_hz", "fitted_at_hz", "tier", "elements",
                                   "sources", "fit_error", "held_out_error", "gmres_iterations",
                                   "unit_seconds", "at_source_cap", "above_tolerance",
                                   "converged")}
    with open(path, encoding="utf-8") as report:
        lines = report.read().splitlines()
    start = next((n for n, line in enumerate(lines) if _HEADER.match(line)), None)
    if start is not None:
        for number in range(start + 1, len(lines)):
            line = lines[number]
            if not line.strip():
                break
            match = _ROW.match(line)
            if match is None:
                raise ValueError(f"{path}:{number + 1}: not a row of the per-mode table: {line!r}")
            try:
                columns["mode"].append(int(match["mode"]))
                columns["frequency_hz"].append(float(match["frequency"]))
                columns["fitted_at_hz"].append(float(match["fitted"]))
                columns["tier"].append(match["tier"])
                columns["elements"].append(int(match["elements"]))
                columns["sources"].append(int(match["sources"]))
                columns["fit_error"].append(float(match["fit"]) / 100.0)
                columns["held_out_error"].append(float(match["held"]) / 100.0)
                columns["gmres_iterations"].append(int(match["gmres"]))
                columns["unit_seconds"].append(float(match["seconds"]))
            except ValueError as bad:
                raise ValueError(f"{path}:{number + 1}: {bad}") from None
            rest = match["rest"]
            columns["at_source_cap"].append(rest.endswith("  cap") or "  cap  " in rest)
            columns["above_tolerance"].append(" above" in rest)
            columns["converged"].append("not converged" not in rest)
    types = {"mode": np.int64, "tier": str, "elements": np.int64, "sources": np.int64,
             "gmres_iterations": np.int64, "at_source_cap": bool, "above_tolerance": bool,
             "converged": bool}
    return {key: np.array(values, dtype=types.get(key, np.float64))
            for key, values in columns.items()}
