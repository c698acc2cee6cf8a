"""A measurement microphone's calibration file and its correction.

Lines that begin with a number hold frequency in Hz, a correction in dB and
optionally a phase in degrees, separated by blanks, tabs or commas, in
rising frequency. Every other line is ignored, except a sensitivity line
("Sens Factor =-1.23dB" or "*1000Hz -40.3"), which is reported and never
applied: the report's levels are relative, so an absolute sensitivity has
nothing to act on."""

import math
import os
import re

from .failure import Failure, UNUSABLE_INPUT, display_text

_NUMBER_LINE = re.compile(r"\s*[-+]?(\d|\.\d)")
_SEPARATORS = re.compile(r"[\s,]+")
_SENS_FACTOR = re.compile(r"sens\s*factor\s*=\s*([-+]?\d+(?:\.\d*)?)\s*db", re.IGNORECASE)
_SENS_AT = re.compile(r"\s*\*\s*(\d+(?:\.\d*)?)\s*hz\s+([-+]?\d+(?:\.\d*)?)", re.IGNORECASE)
_LARGEST_CORRECTION_DB = 200.0
_LARGEST_PHASE_DEGREES = 36000.0
_HIGHEST_FREQUENCY = 1e6


class Calibration:
    def __init__(self, path, channel):
        self.path = path
        self.channel = channel     # 1 or 2
        self.frequencies = []      # Hz, rising
        self.levels = []           # dB to subtract
        self.phases = None         # degrees to subtract, when every line gives one
        self.sensitivity = None    # the sensitivity line's text, reported only

    @property
    def name(self):
        return display_text(os.path.basename(self.path))

    def describe(self):
        text = "calibration {} on channel {}".format(self.name, self.channel)
        if self.sensitivity:
            text += " (sensitivity {}, not applied)".format(self.sensitivity)
        return text

    def corrections(self, frequencies):
        """The level in dB and the phase in radians to subtract at each of
        `frequencies`, interpolated linearly over log frequency and held flat
        outside the file's range; with the number of frequencies outside."""
        import numpy
        frequencies = numpy.asarray(frequencies, dtype=float)
        known = numpy.log10(self.frequencies)
        wanted = numpy.log10(frequencies)
        level = numpy.interp(wanted, known, self.levels)
        phase = numpy.zeros_like(level)
        if self.phases is not None:
            phase = numpy.radians(numpy.interp(wanted, known, self.phases))
        outside = int(numpy.count_nonzero((frequencies < self.frequencies[0]) |
                                          (frequencies > self.frequencies[-1])))
        return level, phase, outside


def _sensitivity(line):
    match = _SENS_FACTOR.search(line)
    if match:
        return "{} dB".format(match.group(1))
    match = _SENS_AT.match(line)
    if match:
        return "{} at {} Hz".format(match.group(2), match.group(1))
    return None


def _data_fields(calibration, number, line):
    fields = [field for field in _SEPARATORS.split(line.strip()) if field][:3]
    try:
        values = [float(field) for field in fields]
    except ValueError:
        values = []
    where = "{} line {}".format(calibration.name, number)
    if len(values) < 2:
        raise Failure(UNUSABLE_INPUT, "{}: expected frequency and dB, found \"{}\"".format(
            where, display_text(line.strip())[:60]))
    if not all(math.isfinite(v) for v in values) or not 0 < values[0] <= _HIGHEST_FREQUENCY \
            or abs(values[1]) > _LARGEST_CORRECTION_DB or (len(values) > 2 and abs(values[2]) > _LARGEST_PHASE_DEGREES):
        raise Failure(UNUSABLE_INPUT, "{}: a value out of range".format(where))
    if calibration.frequencies and values[0] <= calibration.frequencies[-1]:
        raise Failure(UNUSABLE_INPUT, "{}: the frequencies must rise".format(where))
    return values


def parse_calibration(lines, path, channel):
    """Reads a calibration from an iterable of (number, text) lines."""
    calibration = Calibration(path, channel)
    phases = []
    for number, line in lines:
        if not _NUMBER_LINE.match(line):
            calibration.sensitivity = calibration.sensitivity or _sensitivity(line)
            continue
        values = _data_fields(calibration, number, line)
        if phases and (len(values) > 2) != (phases[0] is not None):
            raise Failure(UNUSABLE_INPUT, "{} line {}: {} a phase where the first line {}; give every line a "
                          "phase, or none".format(calibration.name, number,
                                                  "has" if len(values) > 2 else "lacks",
                                                  "has none" if len(values) > 2 else "has one"))
        calibration.frequencies.append(values[0])
        calibration.levels.append(values[1])
        phases.append(values[2] if len(values) > 2 else None)
    if not calibration.frequencies:
        raise Failure(UNUSABLE_INPUT, "{}: no line of frequency and dB".format(calibration.name))
    if phases[0] is not None:
        calibration.phases = phases
    return calibration


def read_calibration(path, channel):
    from .report import bounded_lines
    try:
        os.stat(path)
    except OSError as error:
        raise Failure(UNUSABLE_INPUT, "cannot read the calibration file {}: {}".format(
            display_text(path), error.strerror or error))
    return parse_calibration(bounded_lines(path, display_text(os.path.basename(path)), None), path, channel)
