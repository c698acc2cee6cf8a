"""A driver's Thiele/Small parameters from its impedance.

The model: Z(f) = Re + Zl(f) + Res / (1 + j Qms (f / Fs - Fs / f)), with the
voice coil's inductance Zl = j w Le, or, where the data reach 10 kHz, the
same with a second inductance L2 in parallel with R2 (a lossy coil), which
follows a real coil's rise far better. Fitted by complex least squares
(scipy), each point weighted by 1 / |Z|, so that the valleys count as much
as the peak."""

import math

from .failure import Failure, UNUSABLE_INPUT, MISSING_LIBRARY

AIR_DENSITY = 1.18          # kg/m^3, at about 25 degrees C
SPEED_OF_SOUND = 343.0      # m/s
_LARGEST_RESIDUAL = 0.05    # of |Z|, rms: beyond it the data do not follow the model
_PEAK_OVER_FLOOR = 1.3      # a resonance stands at least this far above both sides
_LOSSY_COIL_FROM_HZ = 10000.0


class DriverFit:
    def __init__(self, re, le, fs, qms, res, l2=0.0, r2=0.0, residual=0.0):
        self.re, self.le, self.fs, self.qms, self.res = re, le, fs, qms, res
        self.l2, self.r2 = l2, r2
        self.residual = residual

    @property
    def qes(self):
        return self.qms * self.re / self.res

    @property
    def qts(self):
        return self.qms * self.qes / (self.qms + self.qes)

    def model(self, frequency):
        import numpy
        w = 2.0 * math.pi * frequency
        coil = 1j * w * self.le
        if self.l2 > 0:
            coil = coil + 1j * w * self.l2 * self.r2 / (self.r2 + 1j * w * self.l2)
        return self.re + coil + self.res / (1.0 + 1j * self.qms * (frequency / self.fs - self.fs / frequency))

    def lines(self):
        lines = ["Re:\t{:.3f} ohms".format(self.re),
                 "Le:\t{:.3f} mH".format(self.le * 1e3)]
        if self.l2 > 0:
            lines += ["L2:\t{:.3f} mH".format(self.l2 * 1e3), "R2:\t{:.2f} ohms".format(self.r2)]
        lines += ["Fs:\t{:.2f} Hz".format(self.fs), "Qms:\t{:.3f}".format(self.qms),
                  "Qes:\t{:.3f}".format(self.qes), "Qts:\t{:.3f}".format(self.qts),
                  "Res:\t{:.2f} ohms".format(self.res), "fit residual:\t{:.3f} %".format(100.0 * self.residual)]
        return lines


def _scipy_optimize():
    try:
        import scipy.optimize
    except Exception as error:
        raise Failure(MISSING_LIBRARY, "cannot load scipy ({}): install the Debian package python3-scipy".format(
            type(error).__name__))
    return scipy.optimize


def _start(frequency, z):
    """Starting values read off the curve; fails where it has no peak."""
    import numpy
    magnitude = numpy.abs(z)
    peak = int(numpy.argmax(magnitude))
    floor = float(numpy.min(magnitude))
    if peak == 0 or peak == len(z) - 1 or magnitude[:peak].min() * _PEAK_OVER_FLOOR > magnitude[peak] \
            or magnitude[peak + 1:].min() * _PEAK_OVER_FLOOR > magnitude[peak]:
        return None
    re = max(float(numpy.min(z.real)), 1e-3)
    res = max(float(magnitude[peak]) - re, 1e-3)
    # Where |Z| crosses the geometric mean of its peak and Re: Fs / Qms apart
    # times sqrt(peak / Re).
    level = math.sqrt(float(magnitude[peak]) * re)
    low = peak
    while low > 0 and magnitude[low] > level:
        low -= 1
    high = peak
    while high < len(z) - 1 and magnitude[high] > level:
        high += 1
    fs = float(frequency[peak])
    width = max(float(frequency[high] - frequency[low]), fs * 0.01)
    qms = fs * math.sqrt((re + res) / re) / width
    top = int(numpy.argmax(frequency))
    le = max(float(z[top].imag) / (2.0 * math.pi * float(frequency[top])), 1e-6)
    return [re, le, fs, qms, res]


def fit_driver(frequency, z, label):
    """Fits the model to the impedance `z` at `frequency` (numpy arrays)."""
    import numpy
    optimize = _scipy_optimize()
    start = _start(frequency, z)
    if start is None:
        raise Failure(UNUSABLE_INPUT, "{}: the impedance has no resonance peak inside the data; the Thiele/Small "
                      "parameters need the driver's resonance between the lowest and highest "
                      "frequencies".format(label))
    lossy = float(frequency.max()) >= _LOSSY_COIL_FROM_HZ
    if lossy:
        start += [start[1], 10.0 * start[0]]

    def driver(p):
        values = numpy.exp(p)
        return DriverFit(*values[:5], *(values[5:] if lossy else []))

    def misfit(p):
        difference = (driver(p).model(frequency) - z) / numpy.abs(z)
        return numpy.concatenate([difference.real, difference.imag])

    try:
        result = optimize.least_squares(misfit, numpy.log(start), method="lm", max_nfev=4000)
    except (ValueError, FloatingPointError) as error:
        raise Failure(UNUSABLE_INPUT, "{}: the fit of the driver's model failed ({})".format(label, error))
    fit = driver(result.x)
    fit.residual = float(numpy.sqrt(numpy.mean(misfit(result.x) ** 2) * 2.0))
    if not result.success or not math.isfinite(fit.residual) or fit.residual > _LARGEST_RESIDUAL:
        raise Failure(UNUSABLE_INPUT, "{}: the impedance does not follow a driver's model (the fit leaves {:.1f} % "
                      "of |Z|); no parameters".format(label, 100.0 * fit.residual)
                      if math.isfinite(fit.residual) else "{}: the fit of the driver's model does not "
                      "converge; no parameters".format(label))
    return fit


def mechanical_lines(free, loaded, sd_cm2, added_grams=None, box_litres=None):
    """Mms, Cms, Bl and Vas from the free driver and the same driver with a
    mass added (`added_grams`) or in a sealed box (`box_litres`)."""
    sd = sd_cm2 * 1e-4
    stiffness_air = AIR_DENSITY * SPEED_OF_SOUND ** 2 * sd ** 2
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
            "Bl:\t{:.3f} Tm".format(bl), "Vas:\t{:.2f} l".format(vas * 1e3)]
