"""Pictures of one or several reports: a sweep as level and phase against
frequency, a polar run as level against the angle."""

import os

from .failure import Failure, MISSING_LIBRARY, UNUSABLE_INPUT, display_text
from .directivity import PLANE_WORDS
from .traces import wrapped_degrees

# Line style, width and drawing order per trace: the widest is drawn first,
# so a trace that equals another (dB 1 and dB diff against a 0 dB loopback)
# still shows around it.
_STYLES = {
    "1": ("-", 3.2, 2), "2": ("-", 2.0, 3), "diff": ((0, (5, 2)), 1.3, 4),
    "bkg 1": (":", 1.2, 1), "bkg 2": ((0, (1, 3)), 1.2, 1),
    "dist 1": ("-", 1.6, 2), "dist 2": ("-", 1.2, 3), "noise 1": (":", 1.6, 1), "noise 2": ((0, (1, 3)), 1.2, 1),
}
_TRACE_COLOURS = {"1": "tab:blue", "2": "tab:orange", "diff": "tab:green", "bkg 1": "tab:gray",
                  "bkg 2": "tab:brown", "dist 1": "tab:purple", "dist 2": "tab:red", "noise 1": "tab:gray",
                  "noise 2": "tab:brown"}
_REPORT_COLOURS = ["tab:blue", "tab:red", "tab:green", "tab:purple", "tab:orange", "tab:cyan",
                   "tab:olive", "tab:pink", "tab:brown", "tab:gray"]
_FREQUENCY_TICKS = [10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000]
_FEWEST_DB_SHOWN = 12.0


def _pyplot():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot
        import matplotlib.ticker
    except Exception as error:   # a broken installation fails in many ways
        raise Failure(MISSING_LIBRARY, "cannot load matplotlib ({}): install the Debian package "
                      "python3-matplotlib".format(str(error).splitlines()[0] if str(error) else
                                                   type(error).__name__))
    return matplotlib.pyplot, matplotlib.ticker


class Curve:
    """One report's traces as drawn: its label, its corrections' text and
    the traces themselves."""

    def __init__(self, report, label, traces, corrections, dist=()):
        self.report = report
        self.label = display_text(label)
        self.traces = traces
        self.corrections = corrections
        self.dist = list(dist)          # ravfit's dist and noise traces, drawn in a panel of their own


# In an overlay each report has one colour; its traces are shades of it, so
# that a dashed trace on top of a solid one of the same report still shows.
_TRACE_SHADES = {"1": ("black", 0.0), "2": ("white", 0.45), "diff": ("black", 0.45),
                 "bkg 1": ("white", 0.6), "bkg 2": ("white", 0.6), "dist 1": ("black", 0.0),
                 "dist 2": ("white", 0.45), "noise 1": ("white", 0.6), "noise 2": ("white", 0.6)}


def _look(curves, index, trace):
    """Colour, line style, width and drawing order of a trace. In an overlay
    the earlier reports are drawn wider, so that equal curves of two reports
    both show."""
    from matplotlib.colors import to_rgb
    style, width, order = _STYLES[trace.key]
    if len(curves) == 1:
        return dict(color=_TRACE_COLOURS[trace.key], linestyle=style, linewidth=width, zorder=order)
    base = to_rgb(_REPORT_COLOURS[index % len(_REPORT_COLOURS)])
    towards, share = _TRACE_SHADES[trace.key]
    target = to_rgb(towards)
    colour = tuple(b + (t - b) * share for b, t in zip(base, target))
    widening = 1.0 + 0.6 * (len(curves) - 1 - index) / (len(curves) - 1)
    return dict(color=colour, linestyle=style, linewidth=width * widening, zorder=order + 10 * index)


def _legend_name(curves, curve, trace):
    return trace.name if len(curves) == 1 else "{}: {}".format(curve.label, trace.name)


def _title(curves):
    if len(curves) == 1:
        lines = [curves[0].report.description()]
        if curves[0].corrections.describe():
            lines.append(curves[0].corrections.describe())
        return "\n".join(lines)
    lines = ["{} reports".format(len(curves))]
    for curve in curves:
        extra = curve.corrections.describe()
        lines.append("{}: {}{}".format(curve.label, curve.report.description(), "; " + extra if extra else ""))
    return "\n".join(lines)


def _hertz(value, _position=None):
    return "{:g}k".format(value / 1000.0) if value >= 1000 else "{:g}".format(value)


def _frequency_axis(axes, ticker):
    """A log frequency axis with ticks in Hz (100, 200, 500, 1k, ...)."""
    axes.set_xscale("log")
    axes.xaxis.set_major_locator(ticker.FixedLocator(_FREQUENCY_TICKS))
    axes.xaxis.set_major_formatter(ticker.FuncFormatter(_hertz))
    axes.xaxis.set_minor_formatter(ticker.NullFormatter())


def _level_limits(curves):
    import numpy
    values = [t.level for c in curves for t in c.traces if not t.key.startswith("bkg") and len(t.level)]
    if not values:
        values = [t.level for c in curves for t in c.traces if len(t.level)]
    values = numpy.concatenate(values)
    low, high = float(values.min()), float(values.max())
    margin = max(2.0, 0.08 * (high - low))
    low, high = low - margin, high + margin
    if high - low < _FEWEST_DB_SHOWN:
        centre = (low + high) / 2.0
        low, high = centre - _FEWEST_DB_SHOWN / 2.0, centre + _FEWEST_DB_SHOWN / 2.0
    return low, high


def _with_gaps(trace, xs, ys):
    """`xs` and `ys` with a break (nan) wherever steps between two drawn
    points were left out (damaged steps, rows without a value), so that a
    line never joins across them."""
    import numpy
    if len(xs) < 2:
        return xs, ys
    breaks = numpy.nonzero(numpy.abs(numpy.diff(trace.step)) > 1)[0] + 1
    return numpy.insert(numpy.asarray(xs, dtype=float), breaks, numpy.nan), \
        numpy.insert(numpy.asarray(ys, dtype=float), breaks, numpy.nan)


# ravfit's uncertainty is drawn as a band where it is this wide or wider;
# narrower, it would hide under the line.
_VISIBLE_ERR_DB = 0.05


def _err_band(axes, trace, look):
    """The level +- ravfit's standard uncertainty, shaded in the trace's
    colour, where it is visible."""
    import numpy
    if trace.err is None or len(trace.frequency) < 2:
        return
    err = numpy.where(numpy.isfinite(trace.err) & (trace.err >= _VISIBLE_ERR_DB), trace.err, numpy.nan)
    if not numpy.any(numpy.isfinite(err)):
        return
    xs, low = _with_gaps(trace, trace.frequency, trace.level - err)
    _, high = _with_gaps(trace, trace.frequency, trace.level + err)
    axes.fill_between(xs, low, high, color=look["color"], alpha=0.2, linewidth=0, zorder=look.get("zorder", 1))


def _draw_dist(axes, curves):
    """ravfit's distortion and noise per step, against the response."""
    for index, curve in enumerate(curves):
        for trace in curve.dist:
            if len(trace.frequency):
                look = dict(_look(curves, index, trace), label=_legend_name(curves, curve, trace))
                axes.plot(*_with_gaps(trace, trace.frequency, trace.level), marker=".", markersize=3, **look)
    axes.set_ylabel("dB against the response")
    axes.legend(fontsize=8, ncol=2)


def _draw_sweep(plt, ticker, curves, wrapped_phase):
    import numpy
    with_dist = any(curve.dist for curve in curves)
    panels = plt.subplots(3 if with_dist else 2, 1, figsize=(10, 10.5 if with_dist else 8), sharex=True,
                          gridspec_kw={"height_ratios": [3, 2, 2] if with_dist else [3, 2]})[1]
    level, phase = panels[0], panels[1]
    figure = level.figure
    frequencies = []
    limits = _level_limits(curves)
    for index, curve in enumerate(curves):
        for trace in curve.traces:
            if not len(trace.frequency):
                continue
            if trace.key.startswith("bkg") and trace.level.max() < limits[0]:
                curve.report.notes.add("{} lies below the level axis (at most {:.1f} dB): left out".format(
                    trace.name, float(trace.level.max())))
                continue
            look = dict(_look(curves, index, trace), label=_legend_name(curves, curve, trace))
            if len(trace.frequency) == 1:
                look["marker"] = "o"
            level.plot(*_with_gaps(trace, trace.frequency, trace.level), **look)
            _err_band(level, trace, look)
            frequencies.append(trace.frequency)
            if trace.phase is not None:
                # Drawn with the sign of the FRD files and crossover tools (a
                # later arrival falls with frequency): the report's lag, negated.
                degrees = -(wrapped_degrees(trace.phase) if wrapped_phase else
                            numpy.degrees(trace.phase if trace.continuous else numpy.unwrap(trace.phase)))
                phase.plot(*_with_gaps(trace, trace.frequency, degrees), **look)
    frequencies = numpy.concatenate(frequencies)
    _frequency_axis(level, ticker)
    level.set_xlim(frequencies.min() / 1.05, frequencies.max() * 1.05)
    level.set_ylim(*limits)
    level.xaxis.set_minor_locator(ticker.LogLocator(subs=numpy.arange(2, 10)))
    if wrapped_phase:
        phase.set_ylim(-185, 185)
        phase.yaxis.set_major_locator(ticker.MultipleLocator(90))
    level.set_ylabel("level, dB")
    phase.set_ylabel("phase, degrees, {} (a lag is negative)".format(
        "wrapped" if wrapped_phase else "unwrapped"))
    if with_dist:
        _draw_dist(panels[2], curves)
    panels[-1].set_xlabel("frequency (actFreq), Hz")
    for axes in panels:
        axes.grid(True, which="major", alpha=0.45)
        axes.grid(True, which="minor", alpha=0.15)
    level.legend(fontsize=8, ncol=2 if len(curves) > 1 else 1)
    level.set_title(_title(curves), fontsize=9)
    return figure


def _polar_points(curve, trace, angle_step, normalise):
    import numpy
    levels = trace.level
    if normalise:
        at_zero = trace.level[trace.step == 0]
        if not len(at_zero):
            raise Failure(UNUSABLE_INPUT, "{}: --normalise needs the 0° step of {}, which has no "
                          "usable level".format(curve.label, trace.name))
        levels = levels - at_zero[0]
    angles = numpy.radians(trace.step * angle_step)
    complete = len(trace.step) == curve.report.run_steps()
    if complete and len(angles):
        angles, levels = numpy.append(angles, angles[0]), numpy.append(levels, levels[0])
        return angles, levels
    return _with_gaps(trace, angles, levels)


def _draw_polar(plt, curves, angle_step, normalise):
    import numpy
    figure = plt.figure(figsize=(7.5, 8))
    axes = figure.add_subplot(projection="polar")
    values = []
    for index, curve in enumerate(curves):
        for trace in curve.traces:
            if not len(trace.step):
                continue
            angles, levels = _polar_points(curve, trace, angle_step, normalise)
            look = _look(curves, index, trace)
            if len(trace.step) == 1:
                look["marker"] = "o"
            axes.plot(angles, levels, label=_legend_name(curves, curve, trace), **look)
            values.append(levels[numpy.isfinite(levels)])
    values = numpy.concatenate(values)
    low, high = float(values.min()), float(values.max())
    span = max(high - low, _FEWEST_DB_SHOWN / 2.0)
    axes.set_rlim(high - 1.15 * span, high + 0.05 * span + 0.5)
    axes.set_theta_zero_location("N")
    axes.set_theta_direction(-1)
    axes.legend(loc="lower right", fontsize=8, bbox_to_anchor=(1.12, -0.12))
    unit = "level in dB relative to the 0° step" if normalise else "level in dB"
    axes.set_title(_title(curves) + "\n" + unit, fontsize=9)
    return figure


def _save(plt, figure, path):
    """Writes the picture by the output rule (output_file), in the format
    its name's extension gives."""
    from .output_file import write_output
    figure.tight_layout()
    try:
        write_output(path, lambda out: figure.savefig(out, dpi=100, format=os.path.splitext(path)[1][1:].lower()))
    finally:
        plt.close(figure)


def draw(path, curves, wrapped_phase=False, normalise=False, angle_step=5.0):
    plt, ticker = _pyplot()
    if curves[0].report.polar:
        figure = _draw_polar(plt, curves, angle_step, normalise)
    else:
        figure = _draw_sweep(plt, ticker, curves, wrapped_phase)
    _save(plt, figure, path)


def draw_impedance(path, curves, fits):
    """|Z| and its phase against frequency for each curve, with the fitted
    driver model dashed where there is one (`fits`: a DriverFit or None per
    curve)."""
    import numpy
    plt, ticker = _pyplot()
    figure, (magnitude, phase) = plt.subplots(2, 1, figsize=(10, 8), sharex=True,
                                              gridspec_kw={"height_ratios": [3, 2]})
    for index, (curve, fit) in enumerate(zip(curves, fits)):
        colour = _REPORT_COLOURS[index % len(_REPORT_COLOURS)]
        marker = "o" if len(curve.frequency) == 1 else None
        magnitude.plot(curve.frequency, numpy.abs(curve.z), color=colour, linewidth=2.0, marker=marker,
                       label=display_text(curve.label))
        phase.plot(curve.frequency, numpy.degrees(numpy.angle(curve.z)), color=colour, linewidth=2.0,
                   marker=marker)
        if fit is not None:
            model = fit.model(curve.frequency)
            magnitude.plot(curve.frequency, numpy.abs(model), color="black", linewidth=1.0,
                           linestyle=(0, (4, 3)), label="{}: model (coil: {}), Fs {:.2f} Hz, Qts {:.3f}".format(
                               display_text(curve.label), fit.coil.name, fit.fs, fit.qts))
            phase.plot(curve.frequency, numpy.degrees(numpy.angle(model)), color="black", linewidth=1.0,
                       linestyle=(0, (4, 3)))
    _frequency_axis(magnitude, ticker)
    magnitude.set_ylim(bottom=0)
    magnitude.set_ylabel("|Z|, ohms")
    phase.set_ylim(-95, 95)
    phase.yaxis.set_major_locator(ticker.MultipleLocator(30))
    phase.set_ylabel("phase, degrees")
    phase.set_xlabel("frequency, Hz")
    for axes in (magnitude, phase):
        axes.grid(True, which="major", alpha=0.45)
        axes.grid(True, which="minor", alpha=0.15)
    magnitude.legend(fontsize=8)
    magnitude.set_title("\n".join(curve.description() for curve in curves), fontsize=9)
    _save(plt, figure, path)


def draw_spinorama(path, frequency, result, title):
    """The CTA-2034 curves against frequency, the directivity indices on a
    second scale below them."""
    plt, ticker = _pyplot()
    figure, levels = plt.subplots(figsize=(10, 7))
    looks = [("On Axis", "tab:blue", 2.0), ("Listening Window", "tab:green", 1.6),
             ("Early Reflections", "tab:orange", 1.6), ("Sound Power", "tab:red", 1.6),
             ("Estimated In-Room Response", "tab:purple", 1.2)]
    for name, colour, width in looks:
        levels.plot(frequency, result[name], color=colour, linewidth=width, label=name)
    top = max(float(max(result[name])) for name, _, _ in looks)
    levels.set_ylim(top - 45.0, top + 5.0)
    levels.set_ylabel("level, dB")
    indices = levels.twinx()
    for name, colour in (("Early Reflections DI", "tab:orange"), ("Sound Power DI", "tab:red")):
        indices.plot(frequency, result[name], color=colour, linewidth=1.0, linestyle=(0, (4, 2)), label=name)
    indices.set_ylim(-5.0, 45.0)
    indices.set_ylabel("directivity index, dB")
    _frequency_axis(levels, ticker)
    levels.set_xlim(float(frequency[0]), float(frequency[-1]))
    levels.set_xlabel("frequency, Hz")
    levels.grid(True, which="major", alpha=0.45)
    levels.grid(True, which="minor", alpha=0.15)
    lines = levels.get_legend_handles_labels()
    more = indices.get_legend_handles_labels()
    levels.legend(lines[0] + more[0], lines[1] + more[1], fontsize=8, loc="center left")
    levels.set_title(display_text(title), fontsize=9)
    _save(plt, figure, path)


# The map's and the polar plots' level scale, dB against on-axis.
_MAP_FLOOR_DB, _MAP_TOP_DB = -30.0, 3.0


def draw_directivity_map(path, planes, title, polar=None, polar_frequencies=()):
    """For each orbit, the level against on-axis over log frequency and the
    angle, in filled contours of 3 dB; with `polar` (from polar_levels), a
    polar plot of the orbit at each chosen frequency beside it."""
    import numpy
    plt, ticker = _pyplot()
    figure = plt.figure(figsize=(15 if polar else 10, 4.8 * len(planes)))
    grid = figure.add_gridspec(len(planes), 2 if polar else 1, width_ratios=[2.3, 1] if polar else [1])
    steps = numpy.arange(_MAP_FLOOR_DB, _MAP_TOP_DB + 0.01, 3.0)
    maps = []
    for row, (plane, (frequency, angles, level)) in enumerate(planes.items()):
        axes = figure.add_subplot(grid[row, 0])
        maps.append(axes)
        if polar:
            _draw_orbit(figure.add_subplot(grid[row, 1], projection="polar"), plane, polar[plane],
                        polar_frequencies)
        filled = axes.contourf(frequency, angles, numpy.clip(level, _MAP_FLOOR_DB, _MAP_TOP_DB), levels=steps,
                               cmap="turbo", extend="neither")
        axes.contour(frequency, angles, level, levels=[-6.0], colors="black", linewidths=0.8, linestyles="solid")
        _frequency_axis(axes, ticker)
        axes.yaxis.set_major_locator(ticker.MultipleLocator(30))
        axes.set_ylabel("{} angle, degrees".format(PLANE_WORDS[plane]))
        axes.grid(True, which="major", alpha=0.3, color="white")
        bar = figure.colorbar(filled, ax=axes, ticks=steps[::2])
        bar.set_label("dB against on-axis (black: -6 dB)")
    maps[-1].set_xlabel("frequency, Hz")
    maps[0].set_title(display_text(title), fontsize=9)
    _save(plt, figure, path)


def _draw_orbit(axes, plane, orbit, frequencies):
    """One orbit's level against on-axis round the angle at each chosen
    frequency: 0 degrees at the top, positive angles to the right."""
    import numpy
    angles, levels = orbit
    for index, (f, level) in enumerate(zip(frequencies, levels)):
        radius = numpy.clip(level, _MAP_FLOOR_DB, _MAP_TOP_DB) - _MAP_FLOOR_DB
        axes.plot(numpy.radians(angles), radius, color=_REPORT_COLOURS[index % len(_REPORT_COLOURS)], linewidth=1.6,
                  label=_hertz(f) + " Hz")
    axes.set_theta_zero_location("N")
    axes.set_theta_direction(-1)
    axes.set_ylim(0, _MAP_TOP_DB - _MAP_FLOOR_DB)
    rings = numpy.arange(0.0, _MAP_TOP_DB - _MAP_FLOOR_DB + 0.1, 6.0)
    axes.set_yticks(rings)
    axes.set_yticklabels(["{:g}".format(r + _MAP_FLOOR_DB) for r in rings], fontsize=7)
    axes.set_title("{} orbit, dB against on-axis".format(PLANE_WORDS[plane]), fontsize=9)
    axes.legend(fontsize=7, loc="lower left", bbox_to_anchor=(0.95, -0.05))
