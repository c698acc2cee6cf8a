#pragma once

#include <cstddef>

/// Moves a stream by a fraction of a frame: output frame j is the input at
/// frame j + advance, by a Kaiser-windowed sinc of `taps` points. The rate
/// converter aligns output frames only to whole input frames; this is the
/// part of a channel's arrival below one frame.
struct FractionalDelay {
    static constexpr int taps = 128;

    double weights[taps] = {};

    /// `advance` in [0, 1).
    void start(double advance);

    /// Output frame j from input frames j - taps/2 + 1 .. j + taps/2, which
    /// `input` holds from its start (the frame j - taps/2 + 1) on.
    double at(const double* input) const
    {
        double sum = 0;
        for (int k = 0; k < taps; ++k)
            sum += weights[k] * input[k];
        return sum;
    }

    /// The `count` output frames whose first input frames are
    /// input[0 .. count - 1], each equal to at()'s to the last bit: every
    /// sum runs over the taps in the same order, several sums side by side.
    void apply(const double* input, std::size_t count, double* output) const;
};
