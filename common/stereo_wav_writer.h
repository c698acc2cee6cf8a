#pragma once

#include "common/wav_header.h"

#include <cstdint>
#include <iosfwd>

/// A value on the 16-bit scale as a sample: the nearest integer (halves to
/// even), held to -32768 .. 32767. `held` is set when it had to be.
std::int16_t toSample16(double value, bool& held);
std::int16_t toSample16(double value);

/// The one layout every program writes (ravgen's stimulus, ravprep's
/// aligned file, ravsim's and ravmeasure's recordings): the 44-byte header
/// the generator writes, then 16-bit stereo frames at 44100 Hz.
struct StereoWavWriter {
    static constexpr std::int64_t frameBytes = 4;
    /// The most frames the header's size fields describe.
    static constexpr std::int64_t maxFrames = largestWavData / frameBytes;

    std::ostream& out;
    std::int64_t written = 0;  ///< frames appended since `begin`

    explicit StereoWavWriter(std::ostream& stream) : out(stream) {}

    /// Writes the header for `frames` frames (0 when the length is learnt
    /// at the end: then `fixSizes`). False when the header cannot describe
    /// them or the stream failed.
    bool begin(std::int64_t frames);

    /// Appends `frames` frames already packed as the layout holds them.
    void putPacked(const unsigned char* bytes, std::int64_t frames);

    /// Appends `frames` interleaved pairs of samples.
    void put(const std::int16_t* interleaved, std::int64_t frames);

    /// Rewrites the two size fields for the frames written and returns to
    /// the end (a seekable stream). False when the stream failed.
    bool fixSizes();
};

/// Writes the two size fields of a file of the layout holding `frames`
/// frames, in place at their offsets in `file` (a seekable stream).
void writeStereoWavSizes(std::ostream& file, std::int64_t frames);
