#pragma once

/// A band-limited interpolation's weight at `x` frames from the wanted
/// instant: sin(pi x) / (pi x) under a Kaiser window of shape `beta` that
/// reaches `reach` frames each side; 0 at or beyond them.
double kaiserSinc(double x, double reach, double beta);
