#pragma once

#include <iosfwd>
#include <string>
#include <vector>

/// Writes `frames` (interleaved, `channels` per frame, full scale 1) to
/// `out` as a 32-bit float WAV file at `rate` Hz through libsndfile. False,
/// with `error` set, when the library or the stream fails.
bool writeFloatWav(std::ostream& out, const std::vector<float>& frames, int channels, int rate, std::string& error);
