"""A driver's Thiele/Small parameters from its impedance.

The model: Z(f) = Re + Zcoil(f) + Res / (1 + j Qms (f / Fs - Fs / f)), with
the voice coil's impedance Zcoil following one of the models in
`coil_models`: an inductance Le, Le with one or two lossy sections (an L in
parallel with an R), the semi-inductance K (jw)^n of eddy-current losses, or
the two-exponent form Kr w^Xr + j Ki w^Xi. Each model is fitted by complex
least squares (scipy), each point weighted by 1 / |Z| so that the valleys
count as much as the peak; the model kept is the simplest whose residual is
close to the best. A coil model that is too simple pushes the coil's losses
into Re and Qes, which is why the choice goes by the residual."""

import math
import warnings

from .coil_models import COIL_MODELS
from .failure import Failure, UNUSABLE_INPUT, MISSING_LIBRARY

# Air at 20 degrees C and sea-level pressure; other temperatures follow the
# ideal gas: the density falls and the speed of sound rises with it.
REFERENCE_CELSIUS = 20.0
AIR_DENSITY = 1.204         # kg/m^3 at 20 degrees C
SPEED_OF_SOUND = 343.0      # m/s at 20 degrees C
_KELVIN = 273.15
_LARGEST_RESIDUAL = 0.05    # of |Z|, rms: beyond it the data do not follow the model
_UNCERTAIN_RESIDUAL = 0.01  # beyond it the parameters are uncertain by about as much: said
_CLOSE_TO_BEST = 1.25       # a simpler coil model is kept while its residual is within this of the best
_PEAK_OVER_FLOOR = 1.3      # a resonance stands at least this far above both sides
_PHASE_FALL_DEGREES = 20.0  # the phase falls at least this much across a resonance's peak
# Where a fitted mechanical parameter may lie; a fit that runs to an end
# left the driver's range and gives no parameters.
_RE_RANGE = (1e-3, 1e4)     # ohms
_QMS_RANGE = (0.05, 1000.0)
_RES_RANGE = (1e-3, 1e6)    # ohms


def air(celsius=REFERENCE_CELSIUS):
    """(density kg/m^3, speed of sound m/s) of air at `celsius`."""
    kelvin_ratio = (celsius + _KELVIN) / (REFERENCE_CELSIUS + _KELVIN)
    return AIR_DENSITY / kelvin_ratio, SPEED_OF_SOUND * math.sqrt(kelvin_ratio)


class DriverFit:
    """The fitted driver: Re, Fs, Qms, Res, the coil's model and its values."""

    def __init__(self, re, fs, qms, res, coil, coil_values, residual=0.0):
        self.re, self.fs, self.qms, self.res = re, fs, qms, res
        self.coil, self.coil_values = coil, list(coil_values)
        self.residual = residual
        self.re_given = False
        self.data_range = (fs, fs)

    @property
    def qes(self):
        return self.qms * self.re / self.res

    @property
    def qts(self):
        return self.qms * self.qes / (self.qms + self.qes)

    def model(self, frequency):
        w = 2.0 * math.pi * frequency
        motional = self.res / (1.0 + 1j * self.qms * (frequency / self.fs - self.fs / frequency))
        return self.re + self.coil.impedance(w, self.coil_values) + motional

    def extremes(self):
        """(Zmax, (frequency of the minimum above resonance, its |Z|) or
        None where |Z| still falls at the data's top), from the model on a
        fine grid: the data's steps are too coarse for a sharp peak."""
        import numpy
        low, high = self.data_range
        around = numpy.geomspace(max(self.fs / 2.0, low), min(self.fs * 2.0, high), 4001)
        above = numpy.geomspace(self.fs, high, 4001)
        zmax = float(numpy.abs(self.model(around)).max())
        magnitude = numpy.abs(self.model(above))
        lowest = int(numpy.argmin(magnitude))
        if lowest == len(above) - 1:
            return zmax, None
        return zmax, (float(above[lowest]), float(magnitude[lowest]))

    def lines(self):
        zmax, minimum = self.extremes()
        lines = ["coil model:\t" + self.coil.name,
                 "Re:\t{:.3f} ohms{}".format(self.re, " (given)" if self.re_given else "")]
        lines += self.coil.lines(self.coil_values)
        lines += ["Fs:\t{:.2f} Hz".format(self.fs), "Zmax:\t{:.2f} ohms".format(zmax),
                  "Zmin:\t" + ("{:.2f} ohms at {:.1f} Hz".format(minimum[1], minimum[0]) if minimum
                               else "none inside the data (|Z| still falls at its top)"),
                  "Qms:\t{:.3f}".format(self.qms), "Qes:\t{:.3f}".format(self.qes), "Qts:\t{:.3f}".format(self.qts),
                  "Res:\t{:.2f} ohms".format(self.res), "fit residual:\t{:.3f} %".format(100.0 * self.residual)]
        return lines

    def notes(self):
        if self.residual > _UNCERTAIN_RESIDUAL:
            return ["the best coil model leaves {:.1f} % of |Z|; the parameters are uncertain by about as "
                    "much".format(100.0 * self.residual)]
        return []


def _scipy_optimize():
    try:
        import scipy.optimize
    except Exception as error:
        raise Failure(MISSING_LIBRARY, "cannot load scipy ({}): install the Debian package python3-scipy".format(
            type(error).__name__))
    return scipy.optimize


def _prominence(magnitude, peak):
    """(lowest |Z| on the left, on the right) between `peak` and the nearest
    point on each side that rises above it, or the data's end."""
    left = peak
    while left > 0 and magnitude[left - 1] <= magnitude[peak]:
        left -= 1
    right = peak
    while right < len(magnitude) - 1 and magnitude[right + 1] <= magnitude[peak]:
        right += 1
    return float(magnitude[left:peak + 1].min()), float(magnitude[peak:right + 1].min())


def _half_level_span(magnitude, peak, level):
    """The indices around `peak` where |Z| first falls to `level`."""
    low = peak
    while low > 0 and magnitude[low] > level:
        low -= 1
    high = peak
    while high < len(magnitude) - 1 and magnitude[high] > level:
        high += 1
    return low, high


def find_resonance(frequency, z):
    """The index of the mechanical resonance's peak: a local maximum of |Z|
    that stands above the data on both sides and across which the phase
    falls (a coil's rise makes the phase rise, so its top is never taken);
    the most prominent such peak, or None."""
    import numpy
    magnitude = numpy.abs(z)
    phase = numpy.degrees(numpy.angle(z))
    best, best_ratio = None, _PEAK_OVER_FLOOR
    for peak in range(1, len(z) - 1):
        if not (magnitude[peak] >= magnitude[peak - 1] and magnitude[peak] > magnitude[peak + 1]):
            continue
        floor = max(_prominence(magnitude, peak))
        ratio = float(magnitude[peak]) / floor
        if ratio < best_ratio:
            continue
        low, high = _half_level_span(magnitude, peak, math.sqrt(float(magnitude[peak]) * floor))
        if phase[low] - phase[high] < _PHASE_FALL_DEGREES or phase[low] <= 0 or phase[high] >= 0:
            continue
        best, best_ratio = peak, ratio
    return best


def _mechanical_start(frequency, z, peak, re):
    """Re, Fs, Qms and Res read off the curve around its resonance."""
    import numpy
    magnitude = numpy.abs(z)
    res = max(float(magnitude[peak]) - re, 1e-3)
    # |Z| crosses the geometric mean of its peak and Re Fs / Qms apart,
    # times sqrt(peak / Re).
    low, high = _half_level_span(magnitude, peak, math.sqrt(float(magnitude[peak]) * re))
    fs = float(frequency[peak])
    width = max(float(frequency[high] - frequency[low]), fs * 0.01)
    qms = fs * math.sqrt((re + res) / re) / width
    return [re, fs, min(max(qms, 0.1), 500.0), res]


class _Fitting:
    """One coil model fitted around fixed or free Re."""

    def __init__(self, frequency, z, coil, re_given):
        self.frequency, self.z, self.coil, self.re_given = frequency, z, coil, re_given

    def driver(self, p):
        import numpy
        count = self.mechanical_count()
        mechanical = list(numpy.exp(p[:count]))
        if self.re_given is not None:
            mechanical = [self.re_given] + mechanical
        return DriverFit(*mechanical, self.coil, self.coil.values(p[count:]))

    def mechanical_count(self):
        return 3 if self.re_given is not None else 4

    def misfit(self, p):
        import numpy
        difference = (self.driver(p).model(self.frequency) - self.z) / numpy.abs(self.z)
        return numpy.concatenate([difference.real, difference.imag])

    def bounds(self):
        import numpy
        low, high = float(self.frequency.min()), float(self.frequency.max())
        ranges = ([] if self.re_given is not None else [_RE_RANGE]) + [(low, high), _QMS_RANGE, _RES_RANGE]
        lower = [math.log(a) for a, _ in ranges]
        upper = [math.log(b) for _, b in ranges]
        coil_lower, coil_upper = self.coil.bounds()
        return numpy.array(lower + coil_lower), numpy.array(upper + coil_upper)

    def run(self, optimize, mechanical_start):
        import numpy
        start = mechanical_start if self.re_given is None else mechanical_start[1:]
        top = int(numpy.argmax(self.frequency))
        coil_top = self.z[top] - (self.re_given if self.re_given is not None else mechanical_start[0])
        x0 = numpy.concatenate([numpy.log(start), self.coil.start(2.0 * math.pi * float(self.frequency[top]),
                                                                  coil_top)])
        lower, upper = self.bounds()
        x0 = numpy.clip(x0, lower + 1e-9, upper - 1e-9)
        result = optimize.least_squares(self.misfit, x0, bounds=(lower, upper), method="trf", x_scale="jac",
                                        max_nfev=3000, xtol=1e-10, ftol=1e-10, gtol=1e-10)
        fit = self.driver(result.x)
        fit.residual = float(numpy.sqrt(numpy.mean(self.misfit(result.x) ** 2) * 2.0))
        fit.re_given = self.re_given is not None
        fit.data_range = (float(self.frequency.min()), float(self.frequency.max()))
        span = upper - lower
        at_end = (result.x - lower < 1e-6 * span) | (upper - result.x < 1e-6 * span)
        mechanical_count = self.mechanical_count()
        return fit, [int(i) for i in numpy.nonzero(at_end[:mechanical_count])[0]], bool(at_end[mechanical_count:].any())


def _mechanical_names(re_given):
    return ([] if re_given is not None else ["Re"]) + ["Fs", "Qms", "Res"]


def _chosen(candidates):
    """The simplest coil model whose residual is close to the best; models
    whose coil values ran to an end of their range only where no other is
    left."""
    within = [c for c in candidates if not c[2]] or candidates
    best = min(c[0].residual for c in within)
    close = [c for c in within if c[0].residual <= best * _CLOSE_TO_BEST + 1e-9]
    return min(close, key=lambda c: (c[0].coil.size, c[0].residual))


def fit_driver(frequency, z, label, re_given=None):
    """Fits every coil model to the impedance `z` at `frequency` (numpy
    arrays) and returns the chosen DriverFit; `re_given` fixes Re. Fails,
    naming the figure, where there is no resonance, the fit leaves a
    driver's range or the model leaves too much of |Z|."""
    import numpy
    optimize = _scipy_optimize()
    peak = find_resonance(frequency, z)
    if peak is None:
        raise Failure(UNUSABLE_INPUT, "{}: the impedance has no resonance peak inside the data (a local "
                      "maximum of |Z| standing {:g} times above both sides, its phase falling through zero); "
                      "the Thiele/Small parameters need the driver's resonance between the lowest and highest "
                      "frequencies".format(label, _PEAK_OVER_FLOOR))
    re_start = re_given if re_given is not None else max(float(numpy.min(z.real)), 2e-3)
    start = _mechanical_start(frequency, z, peak, re_start)
    candidates = []
    try:
        # An overflow or an invalid value ends the fit; an underflow (a term
        # far below the others) is harmless.
        with numpy.errstate(over="raise", divide="raise", invalid="raise", under="ignore"), \
                warnings.catch_warnings():
            warnings.simplefilter("error")
            for coil in COIL_MODELS:
                candidates.append(_Fitting(frequency, z, coil, re_given).run(optimize, start))
    except (ValueError, FloatingPointError, ArithmeticError, Warning) as error:
        raise Failure(UNUSABLE_INPUT, "{}: the fit of the driver's model failed ({}); no parameters".format(
            label, error))
    candidates = [c for c in candidates if math.isfinite(c[0].residual)]
    if not candidates:
        raise Failure(UNUSABLE_INPUT, "{}: the fit of the driver's model does not converge; no "
                      "parameters".format(label))
    fit, at_end, _ = _chosen(candidates)
    if at_end:
        name = _mechanical_names(re_given)[at_end[0]]
        value = {"Re": fit.re, "Fs": fit.fs, "Qms": fit.qms, "Res": fit.res}[name]
        raise Failure(UNUSABLE_INPUT, "{}: the fit puts {} at {:.4g}, the end of a driver's range; the data do "
                      "not hold a driver's impedance; no parameters".format(label, name, value))
    if fit.residual > _LARGEST_RESIDUAL:
        raise Failure(UNUSABLE_INPUT, "{}: the impedance does not follow a driver's model: the best coil model "
                      "({}) leaves {:.1f} % of |Z|, more than {:g} %; no parameters".format(
                          label, fit.coil.name, 100.0 * fit.residual, 100.0 * _LARGEST_RESIDUAL))
    return fit


def mechanical_lines(free, loaded, sd_cm2, added_grams=None, box_litres=None, celsius=REFERENCE_CELSIUS):
    """Mms, Cms, Bl and Vas from the free driver and the same driver with a
    mass added (`added_grams`) or in a sealed box (`box_litres`), with air
    at `celsius`."""
    density, speed = air(celsius)
    sd = sd_cm2 * 1e-4
    stiffness_air = density * speed ** 2 * sd ** 2
    w = 2.0 * math.pi * free.fs
    if added_grams is not None:
        shift = (free.fs / loaded.fs) ** 2 - 1.0
        if not shift > 0:
            raise Failure(UNUSABLE_INPUT, "the resonance with the mass added ({:.2f} Hz) is not below the free "
                          "one ({:.2f} Hz)".format(loaded.fs, free.fs))
        mms = added_grams * 1e-3 / shift
        cms = 1.0 / (w * w * mms)
        vas = stiffness_air * cms
    else:
        ratio = loaded.fs * loaded.qes / (free.fs * free.qes) - 1.0
        if not ratio > 0:
            raise Failure(UNUSABLE_INPUT, "the driver in the box ({:.2f} Hz, Qes {:.3f}) does not resonate above "
                          "its free air ({:.2f} Hz, Qes {:.3f})".format(loaded.fs, loaded.qes, free.fs, free.qes))
        vas = box_litres * 1e-3 * ratio
        cms = vas / stiffness_air
        mms = 1.0 / (w * w * cms)
    bl = math.sqrt(w * mms * free.re / free.qes)
    return ["Mms:\t{:.3f} g".format(mms * 1e3), "Cms:\t{:.4f} mm/N".format(cms * 1e3),
            "Bl:\t{:.3f} Tm".format(bl), "Vas:\t{:.2f} l".format(vas * 1e3),
            "air:\t{:.3f} kg/m^3, {:.1f} m/s at {:g} degrees C".format(density, speed, celsius)]
