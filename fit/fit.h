#pragma once

#include <iosfwd>

/// ravfit's main flow: reads the command line and the recording (as ravprep
/// reads it: any format, rate and clock, the same refusals and warnings),
/// brings both channels onto the generator's clock with the reference's
/// timing (the time between the channels kept), identifies each channel's
/// impulse response by least squares against the stimulus that the
/// schedule regenerates, and prints per step (or, with --ppo, on a log
/// grid) the steady-state response, its uncertainty, and per step the
/// distortion and noise. --ir writes the impulse responses. Returns an
/// ExitCode: exitUsage, exitOpen, exitStreamFailed (a read or write failed),
/// exitNotFound or exitMismatch as ravprep does.
int runFit(int argc, const char* const* argv, std::ostream& report, std::ostream& errors);
