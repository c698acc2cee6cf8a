#pragma once

/// The values a program's main flow returns. Where exit statuses are eight
/// bits wide the negative codes read 255, 254, 253, 252, 251, 250 and 249.
enum ExitCode : int {
    exitOk = 0,         ///< the run finished
    exitUsage = -1,     ///< wrong argument count or refused value; usage written
    exitOpen = -2,      ///< the WAV file could not be opened
    exitHeader = -3,    ///< the header records could not be read (ravgen's buffered header fails as exitSteps)
    exitSteps = -4,     ///< the stream failed before a step (or, writing, at the end)
    exitNotFound = -5,  ///< ravdelay, ravprep: no burst found in either channel
    exitReport = -6,    ///< the run finished but its report could not be written
    exitMismatch = -7,  ///< ravprep: the recording does not follow the schedule
};
