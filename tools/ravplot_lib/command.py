"""ravplot's command line: reads the reports, applies the corrections and
writes the pictures and tables asked for."""

import argparse
import math
import os
import sys

from . import failure
from .failure import Failure, USAGE, UNUSABLE_INPUT, UNWRITABLE, MISSING_LIBRARY, display_text

USAGE_LINE = ("ravplot [REPORT ...] [-o FILE.png|FILE.svg] [--frd PREFIX] [--label TEXT]... "
              "[--traces LIST] [--phase unwrapped|wrapped] [--delay FRAMES|auto]... "
              "[--cal FILE|none]... [--cal-channel 1|2] [--normalise] [--dist] | "
              "ravplot FIT_REPORT [LOADED_REPORT] --impedance OHMS [--lead OHMS] [-o FILE.png|FILE.svg] "
              "[--zma PREFIX] [--re OHMS] [--sd CM2 --added-mass GRAMS|--volume LITRES] [--air-temperature C] | "
              "ravplot --spinorama FOLDER [-o FILE.png|FILE.svg] [--csv FILE] | "
              "ravplot --directivity FOLDER [--frd OUT_FOLDER] [--naming plain|spinorama] [--delay FRAMES|auto] "
              "[-o FILE.png|FILE.svg [--polar-at HZ,...]]")
# Options whose value may be a negative number, which argparse would take
# for an option of its own.
_SIGNED_OPTIONS = ("--delay", "--lead", "--impedance", "--sd", "--added-mass", "--volume", "--re",
                   "--air-temperature")
LARGEST_OHMS = 1e6
TRACE_WORDS = {"1": ["1"], "2": ["2"], "diff": ["diff"], "bkg": ["bkg 1", "bkg 2"]}
PICTURE_TYPES = (".png", ".svg")
LARGEST_DELAY_FRAMES = 441000.0   # ten seconds


class _Parser(argparse.ArgumentParser):
    """argparse, but a mistake is one line and status 1."""

    def error(self, message):
        raise Failure(USAGE, message + " (usage: " + USAGE_LINE + ")")


def _options(argv):
    from .directivity import NAMINGS
    parser = _Parser(prog="ravplot", usage=USAGE_LINE, allow_abbrev=False,
                     description="Draws reports of ravan or ravfit, or writes them as FRD files.")
    parser.add_argument("reports", nargs="*", metavar="REPORT",
                        help="reports of ravan or ravfit; none or '-' reads standard input")
    parser.add_argument("-o", "--output", help="picture to write, .png or .svg")
    parser.add_argument("--frd", metavar="PREFIX", help="write FRD files (a sweep) or a table (a polar run)")
    parser.add_argument("--label", action="append", default=[], help="name of a report, once per report")
    parser.add_argument("--traces", help="what to draw: 1, 2, diff, bkg, comma-separated")
    parser.add_argument("--phase", choices=["unwrapped", "wrapped"], default="unwrapped")
    parser.add_argument("--delay", action="append", default=[], metavar="FRAMES|auto",
                        help="delay added to channel 1 and the difference, frames at 44100 Hz")
    parser.add_argument("--cal", action="append", default=[], metavar="FILE|none",
                        help="microphone calibration file")
    parser.add_argument("--cal-channel", type=int, choices=[1, 2], default=1)
    parser.add_argument("--normalise", "--normalize", action="store_true",
                        help="a polar run relative to its 0 degree step")
    parser.add_argument("--impedance", metavar="OHMS", help="a driver's impedance from a ravfit report, "
                        "with this series resistor")
    parser.add_argument("--lead", metavar="OHMS", default="0", help="leads' resistance taken off the impedance")
    parser.add_argument("--zma", metavar="PREFIX", help="write the impedance as a ZMA file")
    parser.add_argument("--sd", metavar="CM2", help="the driver's radiating area, for Mms, Cms, Bl and Vas")
    parser.add_argument("--added-mass", metavar="GRAMS", help="the mass added for the second report")
    parser.add_argument("--volume", metavar="LITRES", help="the sealed box of the second report")
    parser.add_argument("--re", metavar="OHMS", help="the driver's DC resistance, measured: fixed in the fit")
    parser.add_argument("--air-temperature", metavar="C", help="the air's temperature for Vas, degrees C "
                        "(20 unless given)")
    parser.add_argument("--spinorama", metavar="FOLDER", help="the CTA-2034 curves of a set of reports at "
                        "angles, named '<name> hor <angle>.txt' and '<name> ver <angle>.txt'")
    parser.add_argument("--csv", metavar="FILE", help="with --spinorama: write the curves as a CSV file")
    parser.add_argument("--directivity", metavar="FOLDER", help="a set of reports at angles, named as for "
                        "--spinorama: one FRD file per angle into the --frd folder, and a map with -o")
    parser.add_argument("--naming", choices=NAMINGS, default="plain",
                        help="with --directivity: '<name> hor +30.frd' (plain) or '<name>_H 30.txt'")
    parser.add_argument("--dist", action="store_true", help="a third panel with ravfit's dist and noise per step")
    parser.add_argument("--polar-at", metavar="HZ,...", help="with --directivity and -o: polar plots of each "
                        "orbit at these frequencies beside the map")
    joined = []
    for word in argv:
        if joined and joined[-1] in _SIGNED_OPTIONS and word.startswith("-") and _numeric(word):
            joined[-1] = joined[-1] + "=" + word
        else:
            joined.append(word)
    return parser.parse_args(joined)


def _per_report(values, count, option, default):
    """An option given never, once (for every report) or once per report."""
    if not values:
        return [default] * count
    if len(values) == 1:
        return values * count
    if len(values) == count:
        return values
    raise Failure(USAGE, "{} is given {} times for {} reports: give it once, or once per report".format(
        option, len(values), count))


def _delay(text):
    if text == "auto":
        return text
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or abs(value) > LARGEST_DELAY_FRAMES:
        raise Failure(USAGE, "--delay takes frames at 44100 Hz within +-{:g}, or auto: {}".format(
            LARGEST_DELAY_FRAMES, display_text(text)))
    return value


def _frequencies(option, text):
    """A comma-separated list of frequencies in Hz, each above 0 and at most
    1 MHz, at most MOST_POLAR_FREQUENCIES of them; [] when not given."""
    from .directivity import MOST_POLAR_FREQUENCIES
    if text is None:
        return []
    values = []
    for word in text.split(","):
        try:
            value = float(word)
        except ValueError:
            value = math.nan
        if not 0 < value <= 1e6:
            raise Failure(USAGE, "{} takes frequencies in Hz, comma-separated: {}".format(
                option, display_text(word) or "''"))
        values.append(value)
    if len(values) > MOST_POLAR_FREQUENCIES:
        raise Failure(USAGE, "{} takes at most {} frequencies; {} given".format(
            option, MOST_POLAR_FREQUENCIES, len(values)))
    return values


def _fitted_delays(reports, plan, cals):
    """Each report's delay in frames: the one given, or with auto the pure
    delay that best fits its difference's phase, turned to the value that
    takes it out."""
    from .delay_fit import fit_delay
    from .traces import Corrections, trace
    delays = []
    for index, report in enumerate(reports):
        delay = plan.delays[index]
        if delay == "auto":
            if report.polar:
                raise Failure(USAGE, "--delay auto needs a sweep; a polar run has one frequency")
            delay = -fit_delay(trace(report, "diff", Corrections(0.0, cals.get(plan.cal_paths[index]))),
                               report.label)
        delays.append(delay)
    return delays


def _dist_of(report, keys):
    """The dist and noise traces of a ravfit per-step sweep, of the channels
    among `keys` (channel 1 where none is)."""
    from .report import FIT_STEP_COLUMNS
    from .traces import dist_traces
    if report.columns != FIT_STEP_COLUMNS:
        raise Failure(UNUSABLE_INPUT, "--dist draws ravfit's dist and noise per step; {} has none ({})".format(
            display_text(report.label), "a --ppo grid" if report.grid else "a report of ravan"))
    if report.polar:
        raise Failure(USAGE, "--dist draws against frequency; a polar run has one")
    return dist_traces(report, [c for c in ("1", "2") if c in keys] or ["1"])


def _delay_line(where, delay):
    from .traces import SAMPLE_RATE
    return "delay{}:\t{:.2f} frames\t{:.3f} ms".format(where, delay, delay * 1000.0 / SAMPLE_RATE)


def _numeric(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def _positive(option, text, largest, zero_allowed=False):
    """A number from the command line within (0, largest], or [0, largest]."""
    if text is None:
        return None
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or value > largest or value < 0 or (value == 0 and not zero_allowed):
        raise Failure(USAGE, "{} takes a number {} {:g}: {}".format(
            option, "from 0 to" if zero_allowed else "above 0, at most", largest, display_text(text)))
    return value


def _celsius(text):
    """The air's temperature in degrees C, or 20 where not given."""
    from .thiele_small import REFERENCE_CELSIUS
    if text is None:
        return REFERENCE_CELSIUS
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not -40.0 <= value <= 60.0:
        raise Failure(USAGE, "--air-temperature takes degrees C from -40 to 60: {}".format(display_text(text)))
    return value


def _trace_keys(text):
    if text is None:
        return None
    keys = []
    for word in text.split(","):
        if word.strip() not in TRACE_WORDS:
            raise Failure(USAGE, "--traces takes 1, 2, diff and bkg, comma-separated: {}".format(
                display_text(text)))
        keys += [key for key in TRACE_WORDS[word.strip()] if key not in keys]
    return keys


def _file_tag(label):
    stem = os.path.splitext(label)[0] if label.lower().endswith(".txt") else label
    return "".join(c if c.isalnum() and c.isascii() or c in "._+-" else "_" for c in stem) or "report"


def _refuse_beside(mode, own, options):
    """Refuses what does not go with a set's `mode`: reports given one by
    one and the options of single reports, and `own` (name, given) pairs."""
    shared = [("a report", options.reports), ("--impedance", options.impedance), ("--traces", options.traces),
              ("--cal", options.cal), ("--label", options.label), ("--normalise", options.normalise),
              ("--dist", options.dist)]
    other = [name for name, given in shared + own if given]
    if other:
        raise Failure(USAGE, "{} reads the set in its folder; {} does not go with it".format(mode, other[0]))


class Plan:
    """The command line, checked: what to read, correct and write."""

    def __init__(self, argv):
        options = _options(argv)
        self.sources = options.reports or ["-"]
        if self.sources.count("-") > 1:
            raise Failure(USAGE, "standard input ('-') can be read only once")
        count = len(self.sources)
        if options.label and len(options.label) != count:
            raise Failure(USAGE, "--label is given {} times for {} reports: give one per report".format(
                len(options.label), count))
        self.labels_given = bool(options.label)
        self.labels = options.label or ["standard input" if s == "-" else os.path.basename(s)
                                        for s in self.sources]
        self.delays = [_delay(text) for text in _per_report(options.delay, count, "--delay", "0")]
        # One `--delay auto` for several reports takes one delay off them all,
        # so that the drivers' timing between takes stays; given once per
        # report, each report's own.
        self.common_auto = count > 1 and options.delay == ["auto"]
        self.cal_paths = [None if p == "none" else p for p in
                          _per_report(options.cal, count, "--cal", "none")]
        self.cal_channel = options.cal_channel
        self.keys = _trace_keys(options.traces)
        self.wrapped_phase = options.phase == "wrapped"
        self.normalise = options.normalise
        self.dist = options.dist
        self.output, self.frd = options.output, options.frd
        self.impedance = _positive("--impedance", options.impedance, LARGEST_OHMS)
        self.lead = _positive("--lead", options.lead, LARGEST_OHMS, zero_allowed=True)
        self.zma = options.zma
        self.sd = _positive("--sd", options.sd, 1e5)
        self.added_mass = _positive("--added-mass", options.added_mass, 1e5)
        self.volume = _positive("--volume", options.volume, 1e5)
        self.re = _positive("--re", options.re, LARGEST_OHMS)
        self.celsius = _celsius(options.air_temperature)
        self.spinorama, self.csv = options.spinorama, options.csv
        self.directivity, self.naming = options.directivity, options.naming
        self.polar_at = _frequencies("--polar-at", options.polar_at)
        if self.polar_at and self.directivity is None:
            raise Failure(USAGE, "--polar-at goes with --directivity")
        if self.spinorama is not None and self.directivity is not None:
            raise Failure(USAGE, "give --spinorama or --directivity, not both")
        if self.spinorama is not None:
            self._check_spinorama(options)
            return
        if self.directivity is not None:
            self._check_directivity(options)
            return
        if options.naming != "plain":
            raise Failure(USAGE, "--naming goes with --directivity")
        if self.csv is not None:
            raise Failure(USAGE, "--csv goes with --spinorama")
        if self.impedance is not None:
            self._check_impedance(options)
            return
        if any(v is not None for v in (options.zma, options.sd, options.added_mass, options.volume, options.re,
                                       options.air_temperature)) or options.lead != "0":
            raise Failure(USAGE, "--zma, --lead, --re, --sd, --added-mass, --volume and --air-temperature go "
                          "with --impedance")
        self._check_outputs()

    def _check_impedance(self, options):
        other = [name for name, given in [("--frd", options.frd), ("--traces", options.traces),
                                          ("--delay", options.delay), ("--cal", options.cal),
                                          ("--normalise", options.normalise), ("--dist", options.dist)] if given]
        if other:
            raise Failure(USAGE, "--impedance draws an impedance; {} does not apply to it".format(other[0]))
        loaded = self.added_mass is not None or self.volume is not None
        if self.added_mass is not None and self.volume is not None:
            raise Failure(USAGE, "give --added-mass or --volume, not both")
        if loaded != (self.sd is not None):
            raise Failure(USAGE, "--sd goes with --added-mass or --volume, and they with it")
        if options.air_temperature is not None and not loaded:
            raise Failure(USAGE, "--air-temperature is for Vas; it goes with --sd and --added-mass or --volume")
        if len(self.sources) != (2 if loaded else 1):
            raise Failure(USAGE, "--impedance reads one ravfit report{}; {} given".format(
                ", and a second of the driver with the mass added or in the box with --added-mass or --volume"
                if loaded else "", len(self.sources)))
        self._check_picture()
        if self.zma is not None and not os.path.basename(self.zma):
            raise Failure(USAGE, "--zma needs a file name prefix: '{}'".format(display_text(self.zma)))

    def _check_spinorama(self, options):
        _refuse_beside("--spinorama", [("--frd", options.frd), ("--delay", options.delay)], options)
        if self.output is None and self.csv is None:
            raise Failure(USAGE, "nothing to write: give -o FILE.png|FILE.svg or --csv FILE")
        self._check_picture()
        self.sources = []

    def _check_directivity(self, options):
        _refuse_beside("--directivity", [("--csv", options.csv)], options)
        if self.output is None and self.frd is None:
            raise Failure(USAGE, "nothing to write: give --frd OUT_FOLDER or -o FILE.png|FILE.svg")
        self._check_picture()
        if self.frd is not None and not os.path.isdir(self.frd):
            raise Failure(USAGE, "--frd with --directivity names the folder the files go to: {} is none".format(
                display_text(self.frd) or "''"))
        if len(self.delays) > 1:
            raise Failure(USAGE, "--directivity takes one --delay, the same for every angle")
        if self.polar_at and self.output is None:
            raise Failure(USAGE, "--polar-at draws beside the map: give -o FILE.png|FILE.svg")
        self.sources = []

    def _check_picture(self):
        if self.output is not None and os.path.splitext(self.output)[1].lower() not in PICTURE_TYPES:
            raise Failure(USAGE, "the picture must be a .png or .svg file: {}".format(
                display_text(self.output) or "''"))

    def zma_path(self, index):
        if len(self.sources) == 1:
            return self.zma + ".zma"
        return "{}_{}.zma".format(self.zma, _file_tag(self.labels[index]))

    def _check_outputs(self):
        if self.output is None and self.frd is None:
            raise Failure(USAGE, "nothing to write: give -o FILE.png|FILE.svg or --frd PREFIX")
        if self.dist and self.output is None:
            raise Failure(USAGE, "--dist draws a panel of the picture: give -o FILE.png|FILE.svg")
        self._check_picture()
        if self.frd is not None and not os.path.basename(self.frd):
            raise Failure(USAGE, "--frd needs a file name prefix: '{}'".format(display_text(self.frd)))
        if self.frd is not None and self.keys is not None and not any(k in ("1", "2", "diff") for k in self.keys):
            raise Failure(USAGE, "FRD files hold 1, 2 or diff; --traces names none of them")
        if self.frd is not None and len(self.sources) > 1:
            tags = [_file_tag(label) for label in self.labels]
            if len(set(tags)) < len(tags):
                raise Failure(USAGE, "two reports would write the same FRD files; name them with --label")

    def frd_prefix(self, index):
        if len(self.sources) == 1:
            return self.frd
        return "{}_{}".format(self.frd, _file_tag(self.labels[index]))

    def refuse_overwriting(self, outputs):
        inputs = [s for s in self.sources if s != "-"] + [p for p in self.cal_paths if p]
        for output in outputs:
            for source in inputs:
                if os.path.exists(output) and os.path.exists(source) and os.path.samefile(output, source):
                    raise Failure(USAGE, "{} would overwrite the input {}; choose another name".format(
                        display_text(output), display_text(source)))


def _numpy():
    try:
        import numpy  # noqa: F401
    except Exception as error:
        raise Failure(MISSING_LIBRARY, "cannot load numpy ({}): install the Debian package python3-numpy".format(
            type(error).__name__))


def _write_out(stdout, lines):
    try:
        if stdout is None:
            raise OSError("closed")
        stdout.write("".join(line + "\n" for line in lines))
        stdout.flush()
    except (OSError, ValueError):
        raise Failure(UNWRITABLE, "cannot write to standard output")


def _impedance(plan, stdin):
    """The impedance outputs: the curves read, the driver fitted, the files
    written; returns the lines for standard output."""
    from .impedance import check_driver_impedance, read_impedance, zma_lines
    from .pictures import draw_impedance
    from .tables import write_text
    from .thiele_small import fit_driver, mechanical_lines

    curves = [read_impedance(source, label, stdin, plan.impedance, plan.lead)
              for source, label in zip(plan.sources, plan.labels)]
    for curve in curves:
        check_driver_impedance(curve, plan.lead, plan.re)
    fits, problem, notes = [], None, []
    for curve in curves:
        try:
            fits.append(fit_driver(curve.frequency, curve.z, display_text(curve.label), plan.re))
            notes += [display_text(curve.label) + ": " + note for note in fits[-1].notes()]
        except Failure as error:
            if error.status != UNUSABLE_INPUT:
                raise
            fits.append(None)
            problem = problem or error
    files = {plan.zma_path(i): zma_lines(curve, plan.impedance, plan.lead) for i, curve in enumerate(curves)} \
        if plan.zma is not None else {}
    plan.refuse_overwriting(list(files) + ([plan.output] if plan.output else []))
    for path, lines in files.items():
        write_text(path, lines)
    if plan.output:
        draw_impedance(plan.output, curves, fits)
    lines = []
    for curve, fit in zip(curves, fits):
        if len(curves) > 1:
            lines.append("{}:".format(display_text(curve.label)))
        lines += fit.lines() if fit is not None else []
    if problem is None and len(curves) == 2:
        lines += mechanical_lines(fits[0], fits[1], plan.sd, plan.added_mass, plan.volume, plan.celsius)
    lines += ["wrote " + display_text(p) for p in list(files) + ([plan.output] if plan.output else [])]
    return lines, problem, notes


def _name_kinds(reports, plan):
    """An overlay of ravan's and ravfit's reports without --label: each is
    named by its reading, "gated" (ravan) or "steady state" (ravfit), with
    its file's name where two are of one kind."""
    if plan.labels_given or len(set(r.fitted for r in reports)) < 2:
        return
    for report in reports:
        kind = "steady state" if report.fitted else "gated"
        alike = sum(1 for r in reports if r.fitted == report.fitted)
        report.label = kind if alike == 1 else "{} ({})".format(kind, report.label)


def _spinorama(plan):
    """The CTA-2034 curves of the set: the files written; returns the lines
    for standard output."""
    from .pictures import draw_spinorama
    from .report import read_report
    from .spinorama import csv_lines, curves, read_set
    from .tables import write_text
    from .traces import Corrections, trace

    import numpy

    def level_of(path):
        diff = trace(read_report(path, os.path.basename(path), None), "diff", Corrections())
        return numpy.array(diff.frequency), numpy.array(diff.level)

    frequency, levels, notes = read_set(plan.spinorama, level_of)
    result = curves(levels)
    outputs = [p for p in (plan.csv, plan.output) if p]
    plan.refuse_overwriting(outputs)
    if plan.csv:
        write_text(plan.csv, csv_lines(frequency, result, notes))
    if plan.output:
        draw_spinorama(plan.output, frequency, result, "CTA-2034 curves of {} ({})".format(
            os.path.basename(os.path.normpath(plan.spinorama)), notes[0]))
    return notes + ["wrote " + display_text(p) for p in outputs]


def _directivity(plan):
    """The set's FRD files and map; returns the lines for standard output."""
    from .directivity import map_levels, polar_levels, set_frd_files
    from .pictures import draw_directivity_map
    from .tables import write_text

    files, delay, reports = set_frd_files(plan.directivity, plan.frd or ".", plan.delays[0], plan.naming)
    if plan.frd is None:
        files = {}
    planes = map_levels(reports) if plan.output else None
    polar = polar_levels(planes, plan.polar_at) if plan.polar_at else None
    outputs = list(files) + ([plan.output] if plan.output else [])
    plan.refuse_overwriting(outputs)
    for path, lines in files.items():
        write_text(path, lines)
    if plan.output:
        draw_directivity_map(plan.output, planes, "directivity of {}, level against on-axis".format(
            os.path.basename(os.path.normpath(plan.directivity))), polar, plan.polar_at)
    lines = [_delay_line(" taken off", -delay)] if delay else []
    if files:
        lines.append("wrote {} FRD files into {}".format(len(files), display_text(plan.frd)))
    return lines + (["wrote " + display_text(plan.output)] if plan.output else [])


def run(argv, stdin, stdout, stderr):
    """Does what the command line says; returns the exit status. `stdin` is
    a binary stream or None; `stdout` and `stderr` are text streams."""
    from .calibration import read_calibration
    from .pictures import Curve, draw
    from .report import read_report
    from .tables import table_files, write_text
    from .traces import Corrections, traces

    try:
        plan = Plan(argv)
        _numpy()
        if plan.spinorama is not None:
            _write_out(stdout, _spinorama(plan))
            return failure.DONE
        if plan.directivity is not None:
            _write_out(stdout, _directivity(plan))
            return failure.DONE
        if plan.impedance is not None:
            lines, problem, notes = _impedance(plan, stdin)
            _write_out(stdout, lines)
            for note in notes:
                stderr.write("ravplot: note: " + note + "\n")
            if problem is not None:
                raise problem
            return failure.DONE
        cals = {path: read_calibration(path, plan.cal_channel) for path in set(p for p in plan.cal_paths if p)}
        reports = [read_report(source, label, stdin) for source, label in zip(plan.sources, plan.labels)]
        if len(set(r.polar for r in reports)) > 1:
            raise Failure(UNUSABLE_INPUT, "cannot overlay a polar run with a sweep")
        _name_kinds(reports, plan)
        polar = reports[0].polar
        if plan.normalise and not polar:
            raise Failure(USAGE, "--normalise applies to a polar run")
        # A report of ravfit has no background levels to draw.
        keys = plan.keys or (["1", "diff"] if polar else
                             ["1", "2", "diff"] + (["bkg 1", "bkg 2"] if len(reports) == 1 and not reports[0].fitted
                                                   else []))
        out_lines = []
        curves = []
        delays = _fitted_delays(reports, plan, cals)
        if plan.common_auto:
            earliest = max(range(len(reports)), key=lambda i: delays[i])
            delays = [delays[earliest]] * len(reports)
            out_lines.append(_delay_line("", delays[0]))
            out_lines.append("delay from:\t{} (the earliest arrival; taken off every report)".format(
                display_text(reports[earliest].label)))
        else:
            for index, report in enumerate(reports):
                if plan.delays[index] == "auto":
                    where = "" if len(reports) == 1 else " ({})".format(display_text(report.label))
                    out_lines.append(_delay_line(where, delays[index]))
        for index, report in enumerate(reports):
            corrections = Corrections(delays[index], cals.get(plan.cal_paths[index]))
            curves.append(Curve(report, report.label, traces(report, keys, corrections) if plan.output else [],
                                corrections, _dist_of(report, keys) if plan.dist else ()))
        files = {}
        if plan.frd is not None:
            for index, curve in enumerate(curves):
                found = table_files(curve.report, plan.keys or keys, curve.corrections,
                                    plan.frd_prefix(index), 360.0 / curve.report.run_steps())
                if not found:
                    raise Failure(USAGE, "FRD files hold 1, 2 or diff; --traces names none of them")
                files.update(found)
        plan.refuse_overwriting(list(files) + ([plan.output] if plan.output else []))
        for path, lines in files.items():
            write_text(path, lines)
        if plan.output:
            draw(plan.output, curves, plan.wrapped_phase, plan.normalise, 360.0 / reports[0].run_steps())
        for report in reports:
            where = "" if len(reports) == 1 else display_text(report.label) + ": "
            for note in report.notes.lines():
                stderr.write("ravplot: note: " + where + note + "\n")
        _write_out(stdout, out_lines + ["wrote " + display_text(p) for p in list(files) +
                                        ([plan.output] if plan.output else [])])
        return failure.DONE
    except Failure as error:
        message = error.message
        if error.status == USAGE and "(usage: " not in message:
            message += " (usage: " + USAGE_LINE + ")"
        stderr.write("ravplot: " + message + "\n")
        return error.status
    except KeyboardInterrupt:
        stderr.write("ravplot: interrupted\n")
        return failure.INTERRUPTED


def main(argv):
    stdin = sys.stdin.buffer if sys.stdin is not None else None
    if sys.stdout is not None:
        sys.stdout.reconfigure(errors="surrogateescape")
    status = run(argv, stdin, sys.stdout, sys.stderr)
    if status == UNWRITABLE and sys.stdout is not None:
        # Standard output may be the broken pipe; keep the interpreter's
        # final flush from complaining about it a second time.
        try:
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        except (OSError, ValueError):
            pass
    return status
