#pragma once

/// What a cubic through four evenly spaced values, two each side of a gap,
/// gives at the gap: the smooth course a step's neighbours set for it.
inline double cubicMiddle(double before2, double before1, double after1, double after2)
{
    return (-before2 + 4 * before1 + 4 * after1 - after2) / 6;
}
