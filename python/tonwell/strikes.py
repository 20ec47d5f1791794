"""Strikes given from Python, written as tonwell-render's ``--strike`` descriptions.

The render parses them with the command line's own parser, so a strike means exactly what the
same words mean to ``tonwell-render`` and is refused with the same message. Numbers are written
with ``repr``, which gives back the same double when read.
"""

import math
import numbers

import numpy as np

STRIKE_KEYS = ("at", "vertex", "point", "direction", "magnitude", "duration")


def _number(value, what):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise ValueError(f"{what} must be a number, not {value!r}")
    number = float(value)
    if math.isnan(number):
        raise ValueError(f"{what} is NaN")
    return repr(number)


def _triple(value, what):
    if isinstance(value, str):
        raise ValueError(f"{what} must be three numbers, not {value!r}")
    values = np.asarray(value)
    if values.shape != (3,):
        raise ValueError(f"{what} must be three numbers, not shape {values.shape}")
    return ",".join(_number(v.item() if hasattr(v, "item") else v, what) for v in values)


def _vertex(value, what):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{what} must be an integer vertex index, not {value!r}")
    if int(value) < 0:
        raise ValueError(f"{what} {int(value)} is negative")
    return str(int(value))


def strike_text(strike, index=0):
    """One strike (a dict with the keys of ``--strike``) as tonwell-render's description.

    Keys: ``at`` (seconds, default 0), ``vertex`` (0-based) or ``point`` (x, y, z, world
    metres: the nearest vertex), ``direction`` (x, y, z in world axes, or "listener": from the
    eye to the vertex, the default), ``magnitude`` (default: the scene's preset), ``duration``
    (samples its force acts, 1 .. 256; default: the render's ``impact_duration``). Raises
    ValueError naming the strike for an unknown key, a missing vertex and point, a NaN or a
    value of the wrong kind.
    """
    name = f"strike {index}"
    if not isinstance(strike, dict):
        raise ValueError(f"{name} must be a dict with the keys {', '.join(STRIKE_KEYS)}")
    unknown = sorted(set(strike) - set(STRIKE_KEYS))
    if unknown:
        raise ValueError(f"{name}: unknown key {unknown[0]!r} (keys: {', '.join(STRIKE_KEYS)})")
    has_vertex = strike.get("vertex") is not None
    has_point = strike.get("point") is not None
    if has_vertex == has_point:
        raise ValueError(f"{name}: give either a vertex or a point")
    words = []
    if "at" in strike:
        words.append("at=" + _number(strike["at"], f"{name}: at"))
    if has_vertex:
        words.append("vertex=" + _vertex(strike["vertex"], f"{name}: vertex"))
    else:
        words.append("point=" + _triple(strike["point"], f"{name}: point"))
    direction = strike.get("direction", "listener")
    if isinstance(direction, str) and direction == "listener":
        words.append("direction=listener")
    else:
        words.append("direction=" + _triple(direction, f"{name}: direction"))
    if strike.get("magnitude") is not None:
        words.append("magnitude=" + _number(strike["magnitude"], f"{name}: magnitude"))
    if strike.get("duration") is not None:
        duration = strike["duration"]
        if isinstance(duration, bool) or not isinstance(duration, (int, np.integer)):
            raise ValueError(f"{name}: duration must be an integer number of samples, not {duration!r}")
        words.append(f"duration={int(duration)}")
    return " ".join(words)


def _records(array):
    """The rows of a structured array as strike dicts: a negative vertex means "use point"."""
    fields = array.dtype.names
    unknown = sorted(set(fields) - set(STRIKE_KEYS))
    if unknown:
        raise ValueError(f"strikes: unknown field {unknown[0]!r} (fields: {', '.join(STRIKE_KEYS)})")
    rows = []
    for row in np.atleast_1d(array):
        strike = {}
        for field in fields:
            value = row[field]
            if field == "vertex":
                if int(value) >= 0:
                    strike["vertex"] = int(value)
            elif field in ("point", "direction"):
                strike[field] = np.asarray(value, dtype=float)
            elif field == "duration":
                if int(value) > 0:
                    strike["duration"] = int(value)
            else:
                strike[field] = float(value)
        if "vertex" in strike:
            strike.pop("point", None)
        rows.append(strike)
    return rows


def strike_texts(strikes):
    """The ``--strike`` descriptions of a list of dicts or of a numpy structured array.

    A structured array has some of the fields ``at`` (float), ``vertex`` (int; negative: use
    ``point``), ``point`` (3 floats), ``direction`` (3 floats), ``magnitude`` (float) and
    ``duration`` (int, samples; 0: the render's ``impact_duration``).
    """
    if isinstance(strikes, np.ndarray):
        if strikes.dtype.names is None:
            raise ValueError("strikes: a numpy array of strikes must be a structured array")
        strikes = _records(strikes)
    elif isinstance(strikes, dict):
        strikes = [strikes]
    if len(strikes) == 0:
        raise ValueError("strikes: at least one strike is needed")
    return [strike_text(strike, index) for index, strike in enumerate(strikes)]
