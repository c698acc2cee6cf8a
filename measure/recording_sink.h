#pragma once

#include "audio/jack_session.h"
#include "audio/resampler.h"
#include "common/replacing_file.h"
#include "common/stereo_wav_writer.h"
#include "measure/level_meter.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

/// Why a device or FIFO cannot take a recording.
inline const char* const seekingRefusal =
    "it is a device or a FIFO, and a recording's header is rewritten as it grows: name a regular file";

/// The recording on its way from the server to its file: taken from the
/// session's capture rings, metered, converted back to 44100 Hz when the
/// server runs at another rate, rounded to 16 bits and written, up to the
/// frames that a complete run records. The header's sizes are brought up to
/// date after every write, so a file left by a run that ends early still
/// describes the frames it holds. It is written beside its name and put in
/// place by `keep`, so that a run that records nothing leaves an earlier
/// recording as it was.
struct RecordingSink {
    ReplacingFile output;
    StereoWavWriter writer{output.out};
    bool resampling = false;
    Resampler resamplers[2];
    std::int64_t target = 0;   ///< frames of a complete recording
    LevelMeter whole[2];       ///< each input over the run
    LevelMeter recent[2];      ///< each input since the last progress line
    std::int64_t nonfinite[2] = {0, 0};  ///< samples that were not numbers, recorded as silence
    std::vector<float> taken[2];
    std::vector<double> converted[2];
    std::vector<std::int16_t> frames;
    std::string error;

    /// Creates the file that becomes `path`, for `target` frames recorded at
    /// `serverRate`. False, with `error` set; a device or FIFO is refused,
    /// since the header is rewritten as the recording grows.
    bool open(const std::string& path, int serverRate, std::int64_t target);

    /// Takes what the capture rings hold; `took` is set to the frames
    /// taken. A sample that is not a finite number (a broken driver, a
    /// client that wrote one into the graph) is recorded as silence and
    /// counted. False, with `error` set, when the file cannot be written.
    bool drain(JackSession& session, std::size_t& took);

    /// Flushes the resampler, fills a `complete` recording up to `target`
    /// with silence where the conversion came out short, and closes the
    /// file. False, with `error` set, when writing fails.
    bool finish(bool complete);

    /// Puts the finished file in place of the recording's name. False, with
    /// `error` set, when it cannot be renamed.
    bool keep();

  private:
    bool write();
};
