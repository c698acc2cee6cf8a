#pragma once

#include <csignal>
#include <iosfwd>

/// ravmeasure's main flow: plays the stimulus through the JACK server and
/// records two inputs in the same cycles, writes the recording, and writes
/// one fact per line to `facts` at the end. Progress lines and messages go
/// to `errors`, rewritten in place when `errorsAreTerminal`. The run ends
/// early, keeping what was recorded, once `stopRequested` is set. Returns
/// exitOk, or one of exitUsage, exitOpen, exitHeader, exitStreamFailed,
/// exitNoServer, exitBroken and exitStopped with one line that says why.
int runMeasure(int argc, const char* const* argv, std::ostream& facts, std::ostream& errors,
               bool errorsAreTerminal, const volatile std::sig_atomic_t& stopRequested);
