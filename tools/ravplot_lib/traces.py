"""The traces of a report (level and phase of channel 1, channel 2, their
difference, and the background levels), with the rows that cannot be drawn
left out and the user's corrections applied."""

import math

from .failure import Failure, UNUSABLE_INPUT

SAMPLE_RATE = 44100.0   # the rate at which a report's frames are counted

# key -> (level column, phase column or None, legend name)
TRACE_COLUMNS = {
    "1": ("dB 1", "phase 1", "dB 1"),
    "2": ("dB 2", "phase 2", "dB 2"),
    "diff": ("dB diff", "phase diff", "dB diff"),
    "bkg 1": ("bkg 1", None, "bkg 1"),
    "bkg 2": ("bkg 2", None, "bkg 2"),
}
# Values beyond these are not measurements (a report of ravan stays far
# inside them); drawing them would only break the axes.
_LARGEST_LEVEL_DB = 1000.0
_LARGEST_PHASE_RAD = 1000.0
_HIGHEST_FREQUENCY = 1e6


def wrapped_degrees(radians):
    """`radians` in degrees within (-180, 180]; scalars or numpy arrays."""
    degrees = radians * (180.0 / math.pi)
    return 180.0 - (180.0 - degrees) % 360.0


class Corrections:
    """What the user asked to change: a delay put back on channel 1 (frames
    at 44100 Hz; negative takes one out) and a microphone calibration."""

    def __init__(self, delay_frames=0.0, calibration=None):
        self.delay_frames = delay_frames
        self.calibration = calibration

    def describe(self):
        parts = []
        if self.delay_frames:
            parts.append("delay {:+.2f} frames on channel 1".format(self.delay_frames))
        if self.calibration:
            parts.append(self.calibration.describe())
        return "; ".join(parts)


class Trace:
    def __init__(self, key, name, frequency, level, phase, step, phase_corrected):
        self.key = key
        self.name = name
        self.frequency = frequency    # Hz (actFreq)
        self.level = level            # dB
        self.phase = phase            # radians, positive when lagging; None for bkg
        self.step = step              # the row's step index
        self.phase_corrected = phase_corrected
        self.continuous = False       # the phase is already unwrapped: drawn as it is
        self.err = None               # ravfit's standard uncertainty of the level, dB; None without


def _usable(report, key, frequency, level, phase):
    import numpy
    bad_frequency = ~numpy.isfinite(frequency)
    bad_level = ~numpy.isfinite(level) & ~bad_frequency
    bad_phase = numpy.zeros_like(bad_level) if phase is None else \
        ~numpy.isfinite(phase) & ~bad_frequency & ~bad_level
    bad = bad_frequency | bad_level | bad_phase
    with numpy.errstate(invalid="ignore"):
        out_of_range = ~bad & ((frequency <= 0) | (frequency > _HIGHEST_FREQUENCY) |
                               (numpy.abs(level) > _LARGEST_LEVEL_DB))
        if phase is not None:
            out_of_range |= ~bad & (numpy.abs(phase) > _LARGEST_PHASE_RAD)
    name = TRACE_COLUMNS[key][2]
    report.notes.skipped(name, "nan or inf frequencies", int(bad_frequency.sum()))
    report.notes.skipped(name, "nan or inf levels", int(bad_level.sum()))
    report.notes.skipped(name, "nan or inf phases", int(bad_phase.sum()))
    report.notes.skipped(name, "out-of-range values", int(out_of_range.sum()))
    return ~(bad | out_of_range)


def _calibration_terms(report, key, frequency, calibration):
    """The level and phase that the calibration subtracts from this trace."""
    import numpy
    if calibration is None:
        return None
    if key == str(calibration.channel):
        sign = 1.0
    elif key == "diff":
        sign = 1.0 if calibration.channel == 1 else -1.0
    else:
        return None
    level, phase, outside = calibration.corrections(frequency)
    if outside and key == str(calibration.channel):
        report.notes.add("{} covers {:g} to {:g} Hz: held flat at {} step(s) outside it".format(
            calibration.name, calibration.frequencies[0], calibration.frequencies[-1], outside))
    return sign * level, sign * phase, calibration.phases is not None and numpy.any(phase)


def _err(report, key):
    """ravfit's standard uncertainty of trace `key`'s level in dB (the
    difference's from both channels'), or None where the report has none."""
    import numpy
    if key not in ("1", "2", "diff"):
        return None
    first, second = report.column("err 1"), report.column("err 2")
    err = {"1": first, "2": second, "diff": numpy.hypot(first, second)}[key]
    return err if numpy.any(numpy.isfinite(err)) else None


def _unwrapped_with(phase, turn):
    """`phase` with a delay's phase `turn` added, unwrapped. Whichever is
    smoother is unwrapped: the measured phase (a delay put back: its turns
    between two steps would read as jumps) or the sum (a delay taken out:
    the measured phase turns too fast between two steps)."""
    import numpy

    def roughness(values):
        return numpy.sum(numpy.abs(numpy.angle(numpy.exp(1j * numpy.diff(values)))))

    if roughness(phase + turn) < roughness(phase):
        return numpy.unwrap(phase + turn)
    return numpy.unwrap(phase) + turn


def trace(report, key, corrections):
    """The trace `key` of `report`: in rising frequency for a sweep, in step
    order for a polar run; corrected as `corrections` says."""
    import numpy
    level_column, phase_column, name = TRACE_COLUMNS[key]
    frequency = report.column("actFreq")
    level = report.column(level_column)
    phase = report.column(phase_column) if phase_column else None
    keep = _usable(report, key, frequency, level, phase)
    step = report.row_places()[keep]
    frequency, level = frequency[keep], level[keep]
    phase = phase[keep] if phase is not None else None
    err = _err(report, key)
    err = err[keep] if err is not None else None
    if not report.polar:
        order = numpy.argsort(frequency, kind="stable")
        frequency, level, step = frequency[order], level[order], step[order]
        phase = phase[order] if phase is not None else None
        err = err[order] if err is not None else None
    phase_corrected = False
    continuous = False
    terms = _calibration_terms(report, key, frequency, corrections.calibration)
    if terms is not None:
        level = level - terms[0]
        if phase is not None:
            # The file's phase is a lead, the report's a lag: removing the
            # microphone's lead adds to the lag.
            phase = phase + terms[1]
            phase_corrected = phase_corrected or bool(terms[2])
    if corrections.delay_frames and key in ("1", "diff") and phase is not None:
        turn = 2.0 * math.pi * frequency * corrections.delay_frames / SAMPLE_RATE
        if not report.polar:
            phase = _unwrapped_with(phase, turn)
            continuous = True
        else:
            phase = phase + turn
        phase_corrected = True
    result = Trace(key, name, frequency, level, phase, step, phase_corrected)
    result.continuous = continuous
    result.err = err
    return result


# ravfit's per-step figures against the linear response, per channel.
DIST_KEYS = {"1": ["dist 1", "noise 1"], "2": ["dist 2", "noise 2"]}


def dist_traces(report, channels):
    """ravfit's `dist` and `noise` of `channels` against each step's linear
    response, in dB, in rising frequency. A `dist` of -inf (nothing above the
    noise) and a damaged step's nan are left out: gaps, not values."""
    import numpy
    found = []
    frequency = report.column("actFreq")
    places = report.row_places()
    for channel in channels:
        for key in DIST_KEYS[channel]:
            level = report.column(key)
            keep = numpy.isfinite(frequency) & numpy.isfinite(level) & (numpy.abs(level) <= _LARGEST_LEVEL_DB)
            order = numpy.argsort(frequency[keep], kind="stable")
            found.append(Trace(key, key, frequency[keep][order], level[keep][order], None,
                               places[keep][order], False))
    return found


def traces(report, keys, corrections):
    """The traces `keys` of `report`; fails when no response (or, when only
    the background is asked for, no background) has a usable row."""
    found = [trace(report, key, corrections) for key in keys]
    responses = [t for t in found if not t.key.startswith("bkg")] or found
    if not any(len(t.frequency) for t in responses):
        raise Failure(UNUSABLE_INPUT, "{}: no usable row for {} (every value is nan, inf or out of "
                      "range)".format(report.label, ", ".join(t.name for t in responses)))
    return found
