#pragma once

#include "tests/synthetic_recording.h"
#include "tests/test_support.h"

#include <string>
#include <vector>

/// Runs ravprep's flow in-process with `args` after the program name.
RunResult runPrepWith(const std::vector<std::string>& args);

/// What ravprep made of a recording, with the facts the tests read.
struct PrepRun {
    int code = 0;
    std::string report, errors, aligned;
    std::string recording;  ///< the recording's bytes
    double clock = 0, residual = 0, flight = 0;
};

/// The number after `label` in `report`; NaN when the label is missing.
double valueAfter(const std::string& report, const std::string& label);

/// Writes `recording`, prepares it with its own arguments and `extra`.
PrepRun prepare(const SyntheticRecording& recording, const std::vector<std::string>& extra = {});

/// The file `recording` writes, as bytes.
std::string recordedBytes(const SyntheticRecording& recording);

/// Prepares the recording held in `recording` (bytes) with `args`.
PrepRun prepareBytes(const std::string& recording, const std::vector<std::string>& args);

/// The same path recorded on the generator's clock at 44100 Hz, 16 bits,
/// with no latency, no edits and no damage: what ravan reads at the right
/// frame.
std::string sameClockRecording(SyntheticRecording recording);

/// The largest departures of one report from another, over the rows where
/// the prepared file has bursts on both channels; rows it left silent
/// (`-inf` on either channel) are counted in `silentRows` instead.
struct Departure {
    double level = 0, phase = 0, diffLevel = 0, diffPhase = 0;
    int silentRows = 0;
    /// The largest level departure on the rows where channel 1 reads above
    /// -30 dB in `reference`: a filtered device's passband.
    double passbandLevel = 0;
    int passbandRows = 0;
};

Departure compare(const std::string& aligned, const std::string& reference, const std::vector<std::string>& args);
