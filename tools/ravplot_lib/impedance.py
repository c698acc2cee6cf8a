"""A loudspeaker driver's impedance from a ravfit report.

Wiring: the amplifier drives a series resistor of R ohms and the driver
after it. Channel 1 records the voltage across the driver, channel 2 the
voltage at the amplifier's side of the resistor, so the current is
(V2 - V1) / R and Z = R V1 / (V2 - V1). ravfit's columns give V1 / V2 as
`dB diff` and `phase diff` (a lag positive). Leads and contacts between
channel 1's probe points and the driver, given as --lead, are taken off."""

import math

from .failure import Failure, UNUSABLE_INPUT, display_text
from .report import FIT_GRID_COLUMNS as GRID_COLUMNS, FIT_STEP_COLUMNS as STEP_COLUMNS, MOST_LINES_BEFORE_HEADER, \
    SETTING_LABELS, bounded_lines
from .tables import fixed

_LARGEST_LEVEL_DB = 1000.0
_LARGEST_PHASE_RAD = 1000.0
_RE_ABOVE_DATA = 1.01     # a given Re may lie this far above the smallest |Z|, the data's noise


class ImpedanceCurve:
    """A driver's impedance at each usable row of one report."""

    def __init__(self, label):
        self.label = label
        self.settings = {}
        self.frequency = None   # Hz, rising
        self.z = None           # ohms, complex
        self.skipped = 0        # rows without a usable ratio (damaged steps, nan)

    def description(self):
        s = self.settings
        return display_text("{}: sweep from {} Hz, {} points".format(
            self.label, s.get("start freq", "?"), len(self.frequency)))


def _ratio_columns(lines, label):
    """(settings, frequencies, dB diff, phase diff, skipped rows) of a
    ravfit report."""
    settings, rows, columns, skipped = {}, [], None, 0
    for number, line in lines:
        if columns is None:
            head = line.split("\t")
            if head in (STEP_COLUMNS, GRID_COLUMNS):
                columns = head
            elif line.startswith("numCyc\t") or line.startswith("freq\t"):
                raise Failure(UNUSABLE_INPUT, "{}: the column header on line {} is not ravfit's; --impedance "
                              "reads a report of ravfit".format(label, number))
            elif number > MOST_LINES_BEFORE_HEADER:
                break
            else:
                name, separator, value = line.partition(":\t")
                if separator and name.strip() in SETTING_LABELS:
                    settings[name.strip()] = value
            continue
        fields = line.split("\t")
        try:
            frequency = "freq" if columns[0] == "freq" else "actFreq"
            values = [float(fields[columns.index(c)]) for c in (frequency, "dB diff", "phase diff")]
        except (ValueError, IndexError):
            skipped += bool(line.strip())
            continue
        if len(fields) != len(columns) or not all(math.isfinite(v) for v in values) or values[0] <= 0 \
                or abs(values[1]) > _LARGEST_LEVEL_DB or abs(values[2]) > _LARGEST_PHASE_RAD:
            skipped += 1
            continue
        rows.append(values)
    if columns is None:
        raise Failure(UNUSABLE_INPUT, "{}: no column header of ravfit found; --impedance reads a report of "
                      "ravfit".format(label))
    if settings.get("mode") == "polar plot":
        raise Failure(UNUSABLE_INPUT, "{}: a polar run has one frequency; an impedance needs a sweep".format(label))
    return settings, rows, skipped


def read_impedance(source, label, stdin, ohms, lead):
    """The impedance in the report at `source` ("-": `stdin`, binary)."""
    import numpy
    settings, rows, skipped = _ratio_columns(bounded_lines(source, label, stdin), label)
    if len(rows) < 3:
        raise Failure(UNUSABLE_INPUT, "{}: fewer than 3 usable rows; an impedance needs a sweep".format(label))
    table = numpy.array(sorted(rows))
    ratio = 10.0 ** (table[:, 1] / 20.0) * numpy.exp(-1j * table[:, 2])
    curve = ImpedanceCurve(label)
    curve.settings = settings
    curve.skipped = skipped
    with numpy.errstate(divide="ignore", invalid="ignore"):
        z = ohms * ratio / (1.0 - ratio) - lead
    keep = numpy.isfinite(z)
    curve.skipped += int((~keep).sum())
    curve.frequency, curve.z = table[keep, 0], z[keep]
    return curve


def check_driver_impedance(curve, lead, re_given):
    """Refuses leads or an Re that leave no driver in `curve`: leads at or
    above half the smallest |Z| measured (leads and contacts are a small part
    of a voice coil's resistance), or an Re above the driver's smallest |Z|
    (a driver's |Z| never falls below its Re)."""
    import numpy
    measured = numpy.abs(curve.z + lead)
    lowest = int(numpy.argmin(measured))
    where = "{:.3f} ohms at {:.1f} Hz".format(float(measured[lowest]), float(curve.frequency[lowest]))
    label = display_text(curve.label)
    if lead >= measured[lowest]:
        raise Failure(UNUSABLE_INPUT, "{}: --lead {:g} ohms is at or above the smallest |Z| in the data ({}): "
                      "no driver is left; nothing written".format(label, lead, where))
    if lead > measured[lowest] / 2.0:
        raise Failure(UNUSABLE_INPUT, "{}: --lead {:g} ohms is more than half the smallest |Z| in the data ({}); "
                      "leads and contacts are a small part of a driver's resistance: check the value; nothing "
                      "written".format(label, lead, where))
    driver = numpy.abs(curve.z)
    lowest = int(numpy.argmin(driver))
    if re_given is not None and re_given > driver[lowest] * _RE_ABOVE_DATA:
        raise Failure(UNUSABLE_INPUT, "{}: --re {:g} ohms is above the driver's smallest |Z| in the data ({:.3f} "
                      "ohms at {:.1f} Hz), which never falls below Re; nothing written".format(
                          label, re_given, float(driver[lowest]), float(curve.frequency[lowest])))


def zma_lines(curve, ohms, lead):
    """A ZMA file: '*' comment lines with the settings, then frequency in Hz,
    magnitude in ohms and phase in degrees, blank-separated, rising."""
    import numpy
    lines = ["* impedance of {}".format(display_text(curve.label)),
             "* series resistor {:g} ohms, leads {:g} ohms taken off".format(ohms, lead)]
    for name in SETTING_LABELS:
        if name in curve.settings:
            lines.append("* {}: {}".format(name, display_text(curve.settings[name])))
    lines.append("* frequency Hz, magnitude ohms, phase degrees")
    for frequency, z in zip(curve.frequency, curve.z):
        lines.append(" ".join([fixed(frequency, 3), fixed(abs(z), 4), fixed(math.degrees(numpy.angle(z)), 3)]))
    return lines
