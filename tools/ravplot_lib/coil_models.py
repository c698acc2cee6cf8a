"""The voice coil's impedance models that a driver fit chooses from.

Each model's values are fitted in a raw form that keeps them in range: a
positive value (an inductance, a resistance, a coefficient) as its
logarithm, an exponent as itself. `size` is the number of values; a model
with fewer is preferred where it fits as well."""

import math


class _Value:
    """One value of a coil model: its printed name and unit, its range, and
    whether it is fitted as a logarithm."""

    def __init__(self, name, unit, low, high, scale=1.0, digits=3, exponent=False):
        self.name, self.unit, self.low, self.high = name, unit, low, high
        self.scale, self.digits, self.exponent = scale, digits, exponent

    def raw(self, value):
        value = min(max(value, self.low), self.high)
        return value if self.exponent else math.log(value)

    def line(self, value):
        if self.exponent:
            return "{}:\t{:.3f}".format(self.name, value)
        if self.digits is None:
            return "{}:\t{:.4g} {}".format(self.name, value * self.scale, self.unit)
        return "{}:\t{:.{}f} {}".format(self.name, value * self.scale, self.digits, self.unit)


def _inductance(name):
    return _Value(name, "mH", 1e-9, 1.0, scale=1e3)


def _resistance(name):
    return _Value(name, "ohms", 1e-3, 1e5, digits=2)


def _coefficient(name):
    return _Value(name, "ohms at 1 rad/s", 1e-12, 1e3, digits=None)


def _exponent(name):
    return _Value(name, "", 0.05, 1.5, exponent=True)


class CoilModel:
    def __init__(self, name, values, impedance, start):
        self.name, self._values, self._impedance, self._start = name, values, impedance, start
        self.size = len(values)

    def impedance(self, w, values):
        """The coil's impedance in ohms at angular frequencies `w`."""
        return self._impedance(w, *values)

    def values(self, raw):
        import numpy
        return [float(r) if v.exponent else float(numpy.exp(r)) for v, r in zip(self._values, raw)]

    def bounds(self):
        return ([v.low if v.exponent else math.log(v.low) for v in self._values],
                [v.high if v.exponent else math.log(v.high) for v in self._values])

    def start(self, w_top, coil_top):
        """Raw starting values from the coil's impedance `coil_top` (the data
        less Re) at the data's highest angular frequency `w_top`."""
        size = max(abs(coil_top), 1e-3)
        reactance = max(coil_top.imag, 1e-3 * size)
        resistance = max(coil_top.real, 1e-3 * size)
        return [v.raw(x) for v, x in zip(self._values, self._start(w_top, size, reactance, resistance))]

    def lines(self, values):
        return [v.line(x) for v, x in zip(self._values, values)]


def _lossy_section(w, inductance, resistance):
    return 1j * w * inductance * resistance / (resistance + 1j * w * inductance)


COIL_MODELS = [
    CoilModel("Le", [_inductance("Le")],
              lambda w, le: 1j * w * le,
              lambda w, size, x, r: [x / w]),
    CoilModel("semi-inductance K(jw)^n", [_coefficient("K"), _exponent("n")],
              lambda w, k, n: k * (1j * w) ** n,
              lambda w, size, x, r: [size / w ** 0.7, 0.7]),
    CoilModel("Le + L2||R2", [_inductance("Le"), _inductance("L2"), _resistance("R2")],
              lambda w, le, l2, r2: 1j * w * le + _lossy_section(w, l2, r2),
              lambda w, size, x, r: [x / (2 * w), x / w, 2 * size]),
    CoilModel("two-exponent Kr w^Xr + j Ki w^Xi", [_coefficient("Kr"), _exponent("Xr"), _coefficient("Ki"),
                                                   _exponent("Xi")],
              lambda w, kr, xr, ki, xi: kr * w ** xr + 1j * ki * w ** xi,
              lambda w, size, x, r: [r / w ** 0.7, 0.7, x / w ** 0.7, 0.7]),
    CoilModel("Le + L2||R2 + L3||R3", [_inductance("Le"), _inductance("L2"), _resistance("R2"),
                                       _inductance("L3"), _resistance("R3")],
              lambda w, le, l2, r2, l3, r3: 1j * w * le + _lossy_section(w, l2, r2) + _lossy_section(w, l3, r3),
              lambda w, size, x, r: [x / (3 * w), x / w, size, x / w, 4 * size]),
]
