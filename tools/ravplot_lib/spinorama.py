"""The CTA-2034 curves of a loudspeaker from a set of reports at angles:
on-axis, listening window, early reflections and their five parts, sound
power, the predicted in-room response and the two directivity indices.

A set is a folder of reports of one sweep, named `<name> hor <angle>.txt`
and `<name> ver <angle>.txt`, the angle signed in whole degrees (positive
to the right, or up), 10 degree steps over the whole orbit (-170 to 180);
0 and 180 are shared by the two orbits and read from `hor`. A set with no
`ver` files stands for both orbits with the vertical taken equal to the
horizontal, and says so. Levels are averaged as pressure squared; phase is
not used."""

import math
import os
import re

from .failure import Failure, UNUSABLE_INPUT, display_text

ORBIT = tuple(range(-170, 181, 10))
_NAME = re.compile(r"^(?P<name>.*?)\s*(?P<plane>hor|ver)\s+(?P<angle>[+-]?\d+)\.txt$")

# The early reflections' parts, (plane, angles). The rear wall is the
# standard's text: horizontal +-90 and 180 (some open tools take the whole
# rear half instead).
LISTENING_WINDOW = [("hor", 0), ("ver", 10), ("ver", -10)] + [("hor", a) for a in (10, -10, 20, -20, 30, -30)]
REFLECTIONS = [
    ("Floor", [("ver", a) for a in (-20, -30, -40)]),
    ("Ceiling", [("ver", a) for a in (40, 50, 60)]),
    ("Front Wall", [("hor", a) for a in (0, 10, -10, 20, -20, 30, -30)]),
    ("Side Wall", [("hor", a) for s in (1, -1) for a in (40 * s, 50 * s, 60 * s, 70 * s, 80 * s)]),
    ("Rear Wall", [("hor", 90), ("hor", -90), ("hor", 180)]),
]
COLUMNS = ["frequency Hz", "On Axis", "Listening Window", "Early Reflections"] + [n for n, _ in REFLECTIONS] + \
    ["Sound Power", "Estimated In-Room Response", "Early Reflections DI", "Sound Power DI"]
REAR_WALL_NOTE = "rear wall: horizontal +-90 and 180 degrees (the standard's text)"
ONE_ORBIT_NOTE = "orbits: horizontal only; the vertical is taken equal to the horizontal"
TWO_ORBITS_NOTE = "orbits: horizontal and vertical"


def _key(plane, angle):
    """The measurement that stands at (plane, angle): 0 and 180 belong to
    both orbits and are read from the horizontal."""
    return ("hor", angle) if angle in (0, 180) else (plane, angle)


def sphere_weights():
    """Each of the 70 measurements' share of the sphere around it. A point
    at angle t from the front axis (either orbit) stands for the zone of the
    sphere from t - 5 to t + 5 degrees, area (cos(t - 5) - cos(t + 5)) / 2,
    shared by the four points at that angle (hor and ver, either side); 0
    and 180 stand alone for their caps. The shares sum to 1."""
    half = math.radians(5.0)
    weights = {}
    for angle in ORBIT:
        t = math.radians(abs(angle))
        if angle in (0, 180):
            weights[("hor", angle)] = (1.0 - math.cos(half)) / 2.0
            continue
        zone = (math.cos(t - half) - math.cos(t + half)) / 2.0
        for plane in ("hor", "ver"):
            weights[(plane, angle)] = zone / 4.0
    return weights


def _mean_power(levels, keys, weights=None):
    """The mean pressure squared of the measurements `keys`, each weighted
    by `weights` (equal shares where None)."""
    total = 0.0
    for key in keys:
        share = weights[key] if weights is not None else 1.0 / len(keys)
        total = total + share * 10.0 ** (levels[_key(*key)] / 10.0)
    return total


def _db(power):
    import numpy
    with numpy.errstate(divide="ignore"):
        return 10.0 * numpy.log10(power)


def curves(levels):
    """The curves (a dict by COLUMNS name, numpy arrays in dB) from
    `levels`, a dict (plane, angle) -> dB array for all 70 measurements."""
    on = levels[("hor", 0)]
    window = _mean_power(levels, LISTENING_WINDOW)
    parts = {name: _mean_power(levels, keys) for name, keys in REFLECTIONS}
    early = sum(parts.values()) / len(parts)
    weights = sphere_weights()
    power = _mean_power(levels, list(weights), weights)
    room = 0.12 * window + 0.44 * early + 0.44 * power
    result = {"On Axis": on, "Listening Window": _db(window), "Early Reflections": _db(early),
              "Sound Power": _db(power), "Estimated In-Room Response": _db(room)}
    result.update({name: _db(p) for name, p in parts.items()})
    result["Early Reflections DI"] = result["Listening Window"] - result["Early Reflections"]
    result["Sound Power DI"] = result["Listening Window"] - result["Sound Power"]
    return result


def set_files(folder):
    """{(plane, angle): path} of the set's reports in `folder`, and the
    set's name (the names' part before the plane)."""
    try:
        names = sorted(os.listdir(folder))
    except OSError as error:
        raise Failure(UNUSABLE_INPUT, "cannot read the set {}: {}".format(display_text(folder),
                                                                          error.strerror or error))
    found, set_name = {}, None
    for name in names:
        match = _NAME.match(name)
        if match is None:
            continue
        angle = int(match.group("angle"))
        if angle == -180:
            angle = 180
        key = _key(match.group("plane"), angle)
        if angle not in ORBIT or key in found:
            raise Failure(UNUSABLE_INPUT, "{}: {} is not an angle of a 10 degree orbit from -170 to 180, or "
                          "is given twice".format(display_text(name), angle))
        found[key] = os.path.join(folder, name)
        set_name = set_name if set_name is not None else match.group("name")
    if not found:
        raise Failure(UNUSABLE_INPUT, "the folder {} holds no reports named '<name> hor <angle>.txt' or "
                      "'<name> ver <angle>.txt'".format(display_text(folder)))
    return found, set_name or "set"


def read_set(folder, level_of):
    """(frequency, levels, notes) of the set in `folder`: `level_of(path)`
    gives a report's (frequency, dB) arrays. Fails naming what is missing or
    does not agree."""
    import numpy
    found, _ = set_files(folder)
    one_orbit = not any(plane == "ver" and angle not in (0, 180) for plane, angle in found)
    wanted = [_key(plane, angle) for plane in ("hor",) + (() if one_orbit else ("ver",)) for angle in ORBIT]
    missing = sorted(set(k for k in wanted if k not in found))
    if missing:
        raise Failure(UNUSABLE_INPUT, "the set {} lacks {} of its {} measurements: {}{}".format(
            display_text(folder), len(missing), len(set(wanted)),
            ", ".join("{} {:+d}".format(p, a) for p, a in missing[:8]), " ..." if len(missing) > 8 else ""))
    frequency, levels = None, {}
    for key, path in found.items():
        f, level = level_of(path)
        if frequency is None:
            frequency = f
        elif len(f) != len(frequency) or not numpy.allclose(f, frequency, rtol=1e-6):
            raise Failure(UNUSABLE_INPUT, "{} does not hold the frequencies of {}: the set must be one sweep, "
                          "with no row left out as damaged".format(
                              display_text(os.path.basename(path)),
                              display_text(os.path.basename(next(iter(found.values()))))))
        levels[key] = level
    if one_orbit:
        for angle in ORBIT:
            levels.setdefault(("ver", angle), levels[("hor", angle)])
    notes = [ONE_ORBIT_NOTE if one_orbit else TWO_ORBITS_NOTE, REAR_WALL_NOTE]
    return frequency, levels, notes


def csv_lines(frequency, result, notes):
    lines = ["# " + note for note in notes]
    lines.append(",".join(COLUMNS))
    for i, f in enumerate(frequency):
        lines.append(",".join(["{:.4f}".format(f)] + ["{:.4f}".format(float(result[c][i])) for c in COLUMNS[1:]]))
    return lines
