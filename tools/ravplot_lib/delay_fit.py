"""Finds the pure delay in the phase of the difference: the delay whose
phase, taken out, leaves the phase above 1 kHz most nearly constant. The
constant is free, so an inverted device or a fixed phase offset does not
pull the answer, and the search needs no unwrapping, so a delay of many
periods at 20 kHz is found as surely as a small one."""

import math

from .failure import Failure, UNUSABLE_INPUT
from .traces import SAMPLE_RATE

LOWEST_FREQUENCY = 1000.0
LARGEST_DELAY_FRAMES = 4410.0   # 100 ms, 34 m of air
_FEWEST_STEPS = 3
# The search's grid of delays meets at most this many steps (spread evenly
# over those above 1 kHz), and its pieces hold at most this many values,
# so that memory stays bounded whatever the report's length; the answer is
# refined on every step.
_MOST_SEARCH_STEPS = 4096
_LARGEST_PIECE = 1 << 22


def _coherence(omega, phase, delays):
    """|mean of exp(i(phase - omega d))| for every delay d."""
    import numpy
    residual = phase[None, :] - numpy.outer(delays, omega)
    return numpy.abs(numpy.exp(1j * residual).mean(axis=1))


def _refine(omega, phase, delay):
    """Least-squares correction of `delay` from the wrapped residual phase."""
    import numpy
    for _ in range(4):
        residual = phase - omega * delay
        offset = numpy.angle(numpy.exp(1j * residual).mean())
        wrapped = numpy.angle(numpy.exp(1j * (residual - offset)))
        centred = omega - omega.mean()
        delay += float((centred * wrapped).sum() / (centred * centred).sum())
    return delay


def fit_delay(diff_trace, label):
    """The delay in frames at 44100 Hz by which the difference lags; --delay
    takes it out with the opposite sign."""
    import numpy
    keep = diff_trace.frequency >= LOWEST_FREQUENCY
    if diff_trace.phase is None or int(keep.sum()) < _FEWEST_STEPS:
        raise Failure(UNUSABLE_INPUT, "{}: --delay auto needs the phase of the difference at {} or more "
                      "steps above {:g} Hz".format(label, _FEWEST_STEPS, LOWEST_FREQUENCY))
    omega = 2.0 * math.pi * diff_trace.frequency[keep] / SAMPLE_RATE
    phase = diff_trace.phase[keep]
    # A grid fine enough that the highest step's phase moves under 1/8 turn.
    spacing = math.pi / 4.0 / omega.max()
    delays = numpy.arange(-LARGEST_DELAY_FRAMES, LARGEST_DELAY_FRAMES + spacing, spacing)
    pick = numpy.linspace(0, len(omega) - 1, min(len(omega), _MOST_SEARCH_STEPS)).astype(int)
    pieces = max(1, len(delays) * len(pick) // _LARGEST_PIECE)
    scores = numpy.concatenate([_coherence(omega[pick], phase[pick], chunk)
                                for chunk in numpy.array_split(delays, pieces)])
    return _refine(omega, phase, float(delays[int(numpy.argmax(scores))]))
