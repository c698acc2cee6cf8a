#pragma once

/// The values a program's main flow returns. Where exit statuses are eight
/// bits wide the negative codes read 255, 254, 253, 252, 251, 250, 249, 248,
/// 247 and 246.
enum ExitCode : int {
    exitOk = 0,             ///< the run finished
    exitUsage = -1,         ///< wrong argument count or refused value; usage written
    exitOpen = -2,          ///< a file could not be opened, or an output is refused (a directory, an empty name)
    exitHeader = -3,        ///< the header records could not be read, or ravmeasure's stimulus is not 44100 Hz stereo
    exitStreamFailed = -4,  ///< a read or write failed: the recording ended before a step, or a write did not complete
    exitNotFound = -5,      ///< ravdelay, ravprep, ravfit: no burst found in either channel (ravprep, ravfit: in one)
    exitReport = -6,        ///< the run finished but its report could not be written
    exitMismatch = -7,      ///< ravprep, ravfit, ravdelay: the recording does not follow the schedule
    exitNoServer = -8,      ///< ravmeasure: no audio server, or its ports could not be connected; nothing written
    exitBroken = -9,        ///< ravmeasure: the run lost frames it could not heal, or the server or a port went away
    exitStopped = -10,      ///< ravmeasure: stopped by Ctrl-C or a termination signal; what was recorded is kept
};
