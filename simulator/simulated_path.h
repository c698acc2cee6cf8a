#pragma once

#include <complex>
#include <cstdint>
#include <iosfwd>
#include <string>

/// A second-order filter section from the textbook audio-EQ formulas, run
/// in double precision (direct form I). The default passes the signal
/// unchanged.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;

    static Biquad lowPass(double cornerHz, double q);
    static Biquad highPass(double cornerHz, double q);
    static Biquad peaking(double centreHz, double q, double gainDb);
    /// A first-order low-pass (bilinear transform), as a section with b2 = a2 = 0.
    static Biquad firstOrderLowPass(double cornerHz);
    /// A first-order high-pass, as an audio interface's input coupling.
    static Biquad firstOrderHighPass(double cornerHz);

    /// The steady-state response at `frequencyHz`.
    std::complex<double> response(double frequencyHz) const;
};

/// What one channel of the simulated audio path does to its signal, in order:
/// gain (a negative gain inverts), filter, whole-frame delay.
struct ChannelPath {
    double gain = 1.0;
    Biquad filter;
    int delayFrames = 0;

    /// The steady-state response at `frequencyHz`, delay included.
    std::complex<double> response(double frequencyHz) const;
};

/// A known audio path that turns a file written by the generator into the
/// recording that path would give: per-channel processing, then white noise
/// from a fixed seed (one generator per channel), clipping and truncation to
/// 16 bits, extra frames ahead of the lead-in, an optional turntable on
/// channel 1 and truncation of the recording. The header is copied.
struct SimulatedPath {
    ChannelPath channels[2];
    double noiseRms = 0.0;          ///< white Gaussian noise, in sample units
    std::uint32_t noiseSeed = 1;
    int extraFramesBefore = 0;      ///< frames of noise (or silence) ahead of the data
    std::int64_t keepBytes = -1;    ///< cut the recording to this length when not negative
    /// From this frame of the recording on, channel 1 follows a cardioid
    /// over the 72 one-second steps of a polar run; negative for none.
    std::int64_t cardioidStart = -1;

    std::string record(const std::string& generated) const;

    /// The same, streamed: reads the 44-byte header and `inputFrames`
    /// frames from `in` and writes the recording (the header for them and
    /// the latency's frames ahead of them) to `out` a block at a time, so
    /// memory stays bounded whatever the length. Returns false when `in`
    /// holds no header or the header cannot describe the recording.
    bool record(std::istream& in, std::int64_t inputFrames, std::ostream& out) const;
};
