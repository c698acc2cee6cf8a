#pragma once

#include "common/burst_schedule.h"
#include "common/option_reader.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

/// The longest tail after the stimulus that ravmeasure records, seconds.
constexpr double longestTail = 3600.0;

/// The longest names handed to the audio library: its own buffers hold a
/// server's name of 63 characters and a port's full name of 255.
constexpr std::size_t longestServerName = 63;
constexpr std::size_t longestPortName = 255;

/// ravmeasure's synopsis and options.
const OptionTable& measureOptionTable();

/// ravmeasure's command line: the stimulus to play, the recording to write,
/// the generator's positional values (for the progress line's step), and
/// the ports and server to use.
struct MeasureOptions {
    std::string stimulus;
    std::string recording;
    BurstSchedule schedule;
    std::vector<std::string> play;    ///< two playback ports; empty: the first physical ones
    std::vector<std::string> record;  ///< two capture ports; empty: the first physical ones
    bool loopback = false;            ///< connect the client's outputs to its own inputs
    bool freewheel = false;           ///< loopback only: the server runs as fast as it can
    double tailSeconds = 1.0;         ///< recorded after the stimulus's last frame
    std::string server;               ///< empty: the default server
    /// A testing aid, from RAVMEASURE_MISS=FRAME,CYCLES: the client misses
    /// `missCycles` cycles from the one that plays stimulus frame
    /// `missFrame` (44100 Hz); -1 for none.
    std::int64_t missFrame = -1;
    int missCycles = 0;

    /// Reads RAVMEASURE_MISS's value `text` (null or empty: no hook). Returns exitOk,
    /// or exitUsage after writing one line that says what it takes.
    int readMissHook(const char* text, std::ostream& errors);

    /// Reads the command line. Returns exitOk, or exitUsage after writing
    /// one line naming the refused value (where there is one) and the usage
    /// message to `errors`.
    int read(int argc, const char* const* argv, std::ostream& errors);
};
