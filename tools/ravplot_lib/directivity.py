"""A directivity set as crossover design tools read it: one FRD file per
angle, all on one time reference (one delay, the same for every angle, or
none), and a map of the level against angle and frequency."""

import os

from .failure import Failure, UNUSABLE_INPUT, display_text
from .spinorama import set_files
from .traces import SAMPLE_RATE

NAMINGS = ("plain", "spinorama")
PLANE_WORDS = {"hor": "horizontal", "ver": "vertical"}


def frd_name(set_name, plane, angle, naming):
    """`<name> hor +30.frd` (0 and 180 unsigned), or the `<name>_H 30.txt`
    of open spinorama tools."""
    if naming == "spinorama":
        return "{}_{} {:d}.txt".format(set_name, "H" if plane == "hor" else "V", angle)
    signed = "{:d}".format(angle) if angle in (0, 180) else "{:+d}".format(angle)
    return "{} {} {}.frd".format(set_name, plane, signed)


def set_frd_files(folder, out_folder, delay, naming):
    """({path: lines}, delay taken off in frames, the set's reports by key):
    an FRD file per report of the set in `folder`. `delay` is frames added
    to every angle's phase (negative takes a delay off), or "auto": the
    on-axis take's own delay, taken off every angle alike."""
    from .delay_fit import fit_delay
    from .report import read_report
    from .tables import frd_lines
    from .traces import Corrections, trace

    found, set_name = set_files(folder)
    if ("hor", 0) not in found:
        raise Failure(UNUSABLE_INPUT, "the set {} has no on-axis report ('<name> hor 0.txt'): its time reference "
                      "and the map's 0 dB come from it".format(display_text(folder)))
    reports = {key: read_report(path, os.path.basename(path), None) for key, path in found.items()}
    if delay == "auto":
        delay = -fit_delay(trace(reports[("hor", 0)], "diff", Corrections()), reports[("hor", 0)].label)
    files = {}
    for (plane, angle), report in sorted(reports.items()):
        corrections = Corrections(delay)
        lines = frd_lines(report, trace(report, "diff", corrections), corrections)
        header = ["* plane: {}, angle: {:+d} degrees".format(PLANE_WORDS[plane], angle),
                  "* time reference: the set's own; " + (
                      "a delay of {:.2f} frames ({:.3f} ms) taken off every angle alike".format(
                          -delay, -delay * 1000.0 / SAMPLE_RATE) if delay else "no delay taken off")]
        files[os.path.join(out_folder, frd_name(set_name, plane, angle, naming))] = header + lines
    return files, delay, reports


def map_levels(reports):
    """{plane: (frequency, angles, level against on-axis)} for the map: the
    angles of each orbit in rising order, 0 and 180 in both."""
    import numpy
    from .traces import Corrections, trace
    on = trace(reports[("hor", 0)], "diff", Corrections())
    planes = {}
    for plane in ("hor", "ver"):
        rows = []
        for (p, angle), report in reports.items():
            if p == plane or angle in (0, 180):
                diff = trace(report, "diff", Corrections())
                if len(diff.frequency) != len(on.frequency) or not numpy.allclose(diff.frequency, on.frequency):
                    raise Failure(UNUSABLE_INPUT, "{} does not hold the frequencies of the on-axis report: the map "
                                  "needs one sweep with no row left out".format(display_text(report.label)))
                rows.append((angle, numpy.array(diff.level) - numpy.array(on.level)))
        if plane == "ver" and len(rows) <= 2:
            continue
        rows.sort(key=lambda r: r[0])
        planes[plane] = (numpy.array(on.frequency), numpy.array([r[0] for r in rows]),
                         numpy.array([r[1] for r in rows]))
    return planes


# Chosen frequencies of the polar plots: at most this many, so that each
# keeps a colour of its own.
MOST_POLAR_FREQUENCIES = 8


def polar_levels(planes, frequencies):
    """{plane: (angles, [levels at each chosen frequency])}: each angle's
    level against on-axis, interpolated over log frequency, round the orbit
    (-170 to 180, closed back to -180). Refuses a frequency outside the set."""
    import numpy
    result = {}
    for plane, (frequency, angles, level) in planes.items():
        low, high = float(frequency.min()), float(frequency.max())
        outside = [f for f in frequencies if not low <= f <= high]
        if outside:
            raise Failure(UNUSABLE_INPUT, "--polar-at {:g} Hz lies outside the set's {:g} to {:g} Hz".format(
                outside[0], low, high))
        order = numpy.argsort(angles)
        round_orbit = numpy.append(angles[order], angles[order][0] + 360)
        levels = []
        for f in frequencies:
            at = numpy.array([numpy.interp(numpy.log(f), numpy.log(frequency), row) for row in level[order]])
            levels.append(numpy.append(at, at[0]))
        result[plane] = (round_orbit, levels)
    return result
