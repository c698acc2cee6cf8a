"""Reads a report of ravan (fourteen columns a step) or of ravfit (sixteen
a step, or nine a frequency with --ppo): its settings and its rows, each
held in ravan's fourteen columns and ravfit's `err`, `dist` and `noise`. A ravfit
report has no background column (its rows hold nan there) and its levels
give the magnitudes; a ravan report has no `err` (nan)."""

import array
import math
import os

from .failure import Failure, UNUSABLE_INPUT, display_text
from .notes import Notes

# The column header that ravan writes (the analyzer holds it; the tests hold
# this copy against a real report); a report must carry it exactly.
COLUMNS = ["numCyc", "duration", "nomFreq", "actFreq", "abs 1", "abs 2", "dB 1", "dB 2",
           "dB diff", "phase 1", "phase 2", "phase diff", "bkg 1", "bkg 2"]
# What a row holds here: ravan's columns and ravfit's standard uncertainty
# of each level, distortion and noise (nan where a report has none).
FIT_ONLY_COLUMNS = ["err 1", "err 2", "dist 1", "dist 2", "noise 1", "noise 2"]
HELD_COLUMNS = COLUMNS + FIT_ONLY_COLUMNS
# ravfit's column headers: one row per step, or a log grid (--ppo).
FIT_STEP_COLUMNS = ["numCyc", "duration", "nomFreq", "actFreq", "dB 1", "dB 2", "dB diff", "phase 1", "phase 2",
                    "phase diff", "err 1", "err 2", "dist 1", "dist 2", "noise 1", "noise 2"]
FIT_GRID_COLUMNS = ["freq", "dB 1", "dB 2", "dB diff", "phase 1", "phase 2", "phase diff", "err 1", "err 2"]
SETTING_LABELS = ["executable", "arguments", "file name", "mode", "start freq", "end freq",
                  "num steps", "averaging", "delay", "interval"]
POLAR_MODE = "polar plot"
DEFAULT_POLAR_STEPS = 72
# Bounds on what a report may be, so that /dev/zero, /dev/urandom or a
# wrong file of any size ends with a message instead of memory: the
# longest line, the most lines, and the most lines before the header.
LONGEST_LINE = 1 << 16
MOST_LINES = 10_000_000
MOST_LINES_BEFORE_HEADER = 1000


class Report:
    """The settings and the measured rows of one report."""

    def __init__(self, source, label):
        self.source = source          # the path, or "-" for standard input
        self.label = label            # how pictures and notes name it
        self.settings = {}
        self.values = array.array("d")  # rows of len(COLUMNS) values, flat
        self.notes = Notes()
        self.columns = COLUMNS          # the report's own header: ravan's or one of ravfit's

    @property
    def fitted(self):
        """A report of ravfit: no background levels."""
        return self.columns != COLUMNS

    @property
    def polar(self):
        return self.settings.get("mode") == POLAR_MODE

    @property
    def row_count(self):
        return len(self.values) // len(HELD_COLUMNS)

    def column(self, name):
        """The values of one column, in step order, as a numpy array."""
        import numpy
        table = numpy.frombuffer(self.values, dtype=float).reshape(-1, len(HELD_COLUMNS))
        return table[:, HELD_COLUMNS.index(name)].copy()

    @property
    def grid(self):
        """A report of ravfit --ppo: rows on a log grid, not steps."""
        return self.columns == FIT_GRID_COLUMNS

    def row_places(self):
        """Each row's place in its run, as a numpy array: the step, or on a
        grid the point (N points per octave, told by the closest rows), so
        that the points ravfit left out are gaps."""
        import numpy
        places = numpy.arange(self.row_count)
        if not self.grid or self.row_count < 2:
            return places
        with numpy.errstate(invalid="ignore", divide="ignore"):
            octaves = numpy.log2(self.column("actFreq"))
        spacing = numpy.diff(octaves)
        spacing = spacing[numpy.isfinite(spacing) & (spacing > 0)]
        if not len(spacing):
            return places
        # ravfit writes at most 96 points an octave; a hand-made grid far
        # finer is held to a million, so that its places stay whole numbers.
        per_octave = min(max(1.0, numpy.round(1.0 / spacing.min())), 1e6)
        at = numpy.round(octaves * per_octave)
        if not numpy.all(numpy.isfinite(at)):
            return places
        return (at - at.min()).astype(int)

    def run_steps(self):
        """The number of steps of the run the report was made from."""
        steps = self.settings.get("num steps", "")
        if steps.isdigit() and int(steps) > 0:
            return int(steps)
        return DEFAULT_POLAR_STEPS if self.polar else self.row_count

    def description(self):
        s = self.settings
        if self.polar:
            what = "polar plot at {} Hz".format(s.get("start freq", "?"))
        else:
            what = "sweep {} to {} Hz".format(s.get("start freq", "?"), s.get("end freq", "?"))
        name = os.path.basename(s.get("file name", "")) or "report"
        if self.grid:
            frequency = self.column("actFreq")
            rows = "{} points from {:.4g} to {:.5g} Hz".format(self.row_count, frequency.min(), frequency.max())
        else:
            rows = "{} steps".format(self.row_count)
        return display_text("{}: {}, {}, averaging {}".format(name, what, rows, s.get("averaging", "?")))


def _read_settings_line(report, line):
    label, separator, value = line.partition(":\t")
    if separator and label.strip() in SETTING_LABELS:
        report.settings[label.strip()] = value


def _as_ravan_row(columns, row):
    """A row of `columns` in the held columns."""
    if columns == COLUMNS:
        return row + [float("nan")] * len(FIT_ONLY_COLUMNS)
    value = dict(zip(columns, row))
    if columns == FIT_GRID_COLUMNS:
        value.update({"numCyc": 0.0, "duration": 0.0, "nomFreq": value["freq"], "actFreq": value["freq"]})
    for c in ("1", "2"):
        level = value["dB " + c]
        value["abs " + c] = level if math.isnan(level) else 10.0 ** (min(level, 1000.0) / 20.0)
        value["bkg " + c] = float("nan")
    return [value.get(name, float("nan")) for name in HELD_COLUMNS]


def _read_row(report, line):
    fields = line.split("\t")
    if len(fields) != len(report.columns):
        return False
    try:
        row = [float(field) for field in fields]
    except ValueError:
        return False
    report.values.extend(_as_ravan_row(report.columns, row))
    return True


def _lines_of(stream, label):
    """(number, text) of each line of a binary stream, within the bounds.
    Line ends may be LF or CRLF; bytes that are not UTF-8 (a file name in
    the settings) are kept as U+FFFD."""
    number = 0
    while True:
        raw = stream.readline(LONGEST_LINE + 1)
        if not raw:
            return
        number += 1
        if len(raw) > LONGEST_LINE:
            raise Failure(UNUSABLE_INPUT, "{}: line {} is longer than {} bytes; this is not a text file that ravplot reads".format(
                label, number, LONGEST_LINE))
        if number > MOST_LINES:
            raise Failure(UNUSABLE_INPUT, "{}: more than {} lines; this is not a text file that ravplot reads".format(
                label, MOST_LINES))
        yield number, raw.decode("utf-8", "replace").rstrip("\r\n")


def bounded_lines(source, label, stdin):
    """The lines of the report at `source`, or of `stdin` (a binary stream)
    for "-", as (number, text), within the bounds above."""
    name = "standard input" if source == "-" else display_text(source)
    if source == "-" and stdin is None:
        raise Failure(UNUSABLE_INPUT, "cannot read standard input: it is closed")
    try:
        if source == "-":
            yield from _lines_of(stdin, label)
            return
        with open(source, "rb") as text:
            yield from _lines_of(text, label)
    except OSError as error:
        raise Failure(UNUSABLE_INPUT, "cannot read {}: {}".format(name, error.strerror or error))


def parse_report(lines, source, label):
    """Reads a report from an iterable of (number, text) lines. Raises
    Failure when there is no header or no row at all."""
    report = Report(source, label)
    header_seen = False
    incomplete = 0
    for number, line in lines:
        if not header_seen:
            if line.startswith("numCyc\t") or line.startswith("freq\t"):
                header = line.split("\t")
                if header not in (COLUMNS, FIT_STEP_COLUMNS, FIT_GRID_COLUMNS):
                    raise Failure(UNUSABLE_INPUT, "{}: the column header on line {} is neither ravan's fourteen "
                                  "columns nor ravfit's".format(label, number))
                report.columns = header
                header_seen = True
            elif number > MOST_LINES_BEFORE_HEADER:
                break
            else:
                _read_settings_line(report, line)
            continue
        if line.strip() and not _read_row(report, line):
            incomplete += 1
    if not header_seen:
        raise Failure(UNUSABLE_INPUT, "{}: no column header found; this does not look like a report "
                      "of ravan or ravfit".format(label))
    noun = "line" if incomplete == 1 else "lines"
    if incomplete:
        report.notes.add("{} {} skipped: not complete rows".format(incomplete, noun))
    expected = report.run_steps()
    if report.columns != FIT_GRID_COLUMNS and report.settings.get("num steps", "").isdigit() \
            and report.row_count < expected:
        report.notes.add("the report holds {} of {} steps (the recording ended early?)".format(
            report.row_count, expected))
    if report.row_count == 0:
        raise Failure(UNUSABLE_INPUT, "{}: the report holds no measured rows".format(label))
    if report.polar and expected == 1:
        raise Failure(UNUSABLE_INPUT, "{}: a polar run of one step has no angles to draw".format(label))
    if report.polar and report.row_count > expected:
        raise Failure(UNUSABLE_INPUT, "{}: a polar run of {} steps cannot hold {} rows; was the report made "
                      "with the mode of the recording?".format(label, expected, report.row_count))
    return report


def read_report(source, label, stdin):
    """Reads the report at `source`, or from `stdin` (a binary stream) for "-"."""
    return parse_report(bounded_lines(source, label, stdin), source, label)
