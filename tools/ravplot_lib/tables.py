"""FRD files of a sweep and the table of a polar run.

An FRD file holds '*' comment lines with the settings, then one line per
step: frequency in Hz, level in dB and phase in degrees, tab-separated, in
rising frequency. Its phase has the usual sign of a frequency response, a
lag being negative: the report's phase with its sign turned. Where a delay
or a calibration phase was applied, the corrected phase is wrapped back into
(-180, 180] degrees, as the report's own phase lies."""

import math

from .failure import display_text
from .report import SETTING_LABELS
from .traces import SAMPLE_RATE, traces, wrapped_degrees

FRD_TRACES = ["1", "2", "diff"]
_FRD_WHAT = {"1": "channel 1", "2": "channel 2", "diff": "channel 1 relative to channel 2"}


def fixed(value, places):
    """`value` with `places` decimals, never as a negative zero."""
    return "{:.{}f}".format(round(value, places) + 0.0, places)


def _comment_lines(report, corrections, what):
    lines = ["* " + what, "* " + report.description()]
    for label in SETTING_LABELS:
        if label in report.settings:
            lines.append("* {}: {}".format(label, display_text(report.settings[label])))
    if corrections.delay_frames:
        lines.append("* corrected: delay {:+.2f} frames ({:+.3f} ms) added to channel 1 and the difference".format(
            corrections.delay_frames, corrections.delay_frames * 1000.0 / SAMPLE_RATE))
    if corrections.calibration:
        lines.append("* corrected: " + corrections.calibration.describe())
    return lines


def frd_lines(report, trace, corrections):
    what = _FRD_WHAT[trace.key]
    lines = _comment_lines(report, corrections, what)
    lines.append("* frequency Hz\tlevel dB\tphase degrees (a lag is negative)")
    last = None
    repeated = 0
    for frequency, level, phase in zip(trace.frequency, trace.level, trace.phase):
        if last is not None and frequency <= last:
            repeated += 1
            continue
        last = frequency
        degrees = -(wrapped_degrees(phase) if trace.phase_corrected else math.degrees(phase))
        lines.append("\t".join([fixed(frequency, 4), fixed(level, 4), fixed(degrees, 3)]))
    report.notes.skipped(what, "a frequency already written", repeated)
    return lines


def _cell(value, places):
    return fixed(value, places) if math.isfinite(value) and abs(value) < 1e6 else "{:g}".format(value)


def polar_lines(report, corrections, angle_step):
    """One line per step: angle, dB 1, dB 2, dB diff and phase diff in
    degrees (the report's sign: positive when channel 1 lags); values that
    are not numbers are written as the report gives them."""
    lines = _comment_lines(report, corrections, "polar run: dB 1, dB 2, dB diff and phase diff against the angle")
    lines.append("* angle degrees\tdB 1\tdB 2\tdB diff\tphase diff degrees (positive when channel 1 lags)")
    found = dict(zip(FRD_TRACES, traces(report, FRD_TRACES, corrections)))
    corrected = {key: _by_step(t) for key, t in found.items()}
    raw = {key: report.column(column) for key, column in
           [("1", "dB 1"), ("2", "dB 2"), ("diff", "dB diff"), ("phase", "phase diff")]}
    for step in range(report.row_count):
        cells = [fixed(step * angle_step, 1)]
        for key in FRD_TRACES:
            level = corrected[key].get(step, (raw[key][step], None))[0]
            cells.append(_cell(level, 4))
        phase = corrected["diff"].get(step, (None, raw["phase"][step]))[1]
        degrees = wrapped_degrees(phase) if found["diff"].phase_corrected and math.isfinite(phase) \
            else math.degrees(phase)
        cells.append(_cell(degrees, 3))
        lines.append("\t".join(cells))
    return lines


def _by_step(trace):
    return {int(step): (level, phase) for step, level, phase in zip(trace.step, trace.level, trace.phase)}


def write_text(path, lines):
    """Writes `lines` to `path` by the output rule (output_file)."""
    from .output_file import write_output
    write_output(path, lambda out: out.write(("\n".join(lines) + "\n").encode("ascii", "replace")))


def table_files(report, keys, corrections, prefix, angle_step):
    """{path: lines} of the files that --frd writes for one report."""
    if report.polar:
        return {prefix + ".txt": polar_lines(report, corrections, angle_step)}
    wanted = [key for key in FRD_TRACES if key in keys]
    found = traces(report, wanted, corrections)
    return {"{}_{}.frd".format(prefix, t.key): frd_lines(report, t, corrections) for t in found}
