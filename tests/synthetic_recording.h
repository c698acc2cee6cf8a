#pragma once

#include "simulator/simulated_path.h"

#include <string>
#include <vector>

/// One input channel of a synthetic recorder: what reaches it from the
/// player, in order: gain (negative inverts), filter, extra delay.
struct RecorderChannel {
    double gain = 1.0;
    Biquad filter;              ///< designed for 44100 Hz, run on the recorder's samples
    Biquad highPass;            ///< a second section after `filter`, the same way
    double delayFrames = 0;     ///< played frames, fractional
    std::vector<Biquad> more;   ///< further sections after `highPass`, the same way
    /// A second path from the same input, summed with the first (a
    /// loudspeaker's other driver): its sections in order.
    std::vector<Biquad> parallel;
    double parallelDelayFrames = 0;  ///< the second path's delay beyond `delayFrames`
    double echoGain = 0;        ///< a reflection of the input, added this much...
    double echoFrames = 0;      ///< ...this many played frames after it
    double clipLevel = 0;       ///< a soft clip, clipLevel * tanh(v / clipLevel), last; 0 for none
    /// A turntable: the gain at each step, with `gain`; empty for none.
    std::vector<double> stepGains;

    /// The linear part's steady-state response at `frequencyHz`, delay
    /// included, on a recorder at `rate` whose clock runs `ppm` fast: the
    /// filters run on its samples, the delays are the player's.
    std::complex<double> response(double frequencyHz, double ppm = 0, int rate = 44100) const;
};

/// What a recorder does to its own frames: at recording frame `at` it
/// loses `frames` frames (negative: time goes on, the samples are never
/// written) or inserts that many frames of silence (positive).
struct FrameEdit {
    std::int64_t at = 0;
    std::int64_t frames = 0;
    bool restart = false;  ///< playback starts again from the file's first frame instead
};

/// A stretch of one channel replaced by `value` (0 for a dropout, NaN,
/// infinity or a click), in played frames from the file's first frame.
struct ChannelDamage {
    int channel = 0;
    double from = 0, to = 0;
    double value = 0;
};

/// A recording made without resampling anything: every sample is the
/// generator's burst formula evaluated at the instant the recorder's clock
/// samples it. A recorder whose clock runs fast by `ppm` takes sample m at
/// played time m / (1 + ppm 1e-6) (scaled by 44100 / rate), after
/// `latencyFrames` of latency. This keeps the tests independent of the
/// resampler that ravprep uses.
struct SyntheticRecording {
    std::vector<std::string> args;  ///< the generator's arguments after the file name
    int rate = 44100;
    double ppm = 0;
    double latencyFrames = 0;       ///< played frames before the file's first frame arrives
    RecorderChannel channels[2];
    double noiseDb = 0;             ///< white noise this far below the burst's peak of 24000; 0 for none
    double humDb = 0;               ///< 50 Hz hum and its harmonics this far below; 0 for none
    int format = 0;                 ///< libsndfile format word; 0 for 16-bit WAV
    int fileChannels = 2;           ///< 1 writes channel 1 only
    bool listChunk = false;         ///< adds a LIST chunk ahead of the data
    double tailSeconds = 1;         ///< recorded after the last step
    double leadSeconds = 0;         ///< recorded before playback starts, beyond the latency
    std::vector<FrameEdit> edits;   ///< in the order of `at`
    double ppmChangeAt = -1;        ///< played frame from which the clock runs at `ppmAfter`; -1 never
    double ppmAfter = 0;
    std::vector<ChannelDamage> damage;

    /// Writes the recording to `path` through libsndfile.
    void write(const std::string& path) const;
};
