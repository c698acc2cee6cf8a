#pragma once

#include "common/burst_schedule.h"

#include <iosfwd>

/// What follows the label ("Useage: " or "Usage: ") in each program's
/// usage message.
constexpr const char* generatorSynopsis = "ravgen outfile.wav [delay [numAvg [startFreq [sweep|polar]]]]";
constexpr const char* analyzerSynopsis = "ravan infile.wav [delay [numAvg [startFreq [sweep|polar]]]]";

/// The label before a program's synopsis: "Usage: " for ravfit and ravsim,
/// "Useage: " for the others, whose users' scripts match it as it stands.
const char* usageLabel(const char* synopsis);

/// Writes the two-line usage message with the build date and ends the line.
void writeUsage(std::ostream& errors, const char* synopsis);

/// True when the command line holds one to five arguments after the
/// program name.
bool argumentCountValid(int argc);

/// Fills `schedule` from the command line: mode (position 5), start
/// frequency (4), numAvg (3), delay (2), in that order. Returns exitOk, or
/// exitUsage after writing the usage message (preceded, for a refused
/// value, by one line naming it) to `errors`. Refused: a start frequency not
/// above 0 or one that needs a burst beyond 32 bits, a negative delay or
/// numAvg, and settings whose data byte count plus 36 reaches 2^32.
int readArguments(int argc, const char* const* argv, const char* synopsis,
                  BurstSchedule& schedule, std::ostream& errors);

/// True when readArguments would accept the command line; writes nothing.
bool argumentsAccepted(int argc, const char* const* argv);

/// Writes the run header: program path, argument count and file name.
void writeRunHeader(std::ostream& report, int argc, const char* const* argv);

/// A lone -h or --help writes the usage message to `report` and gives
/// exitOk. Returns true, with `code` set, when it did. For the programs
/// whose options may stand first.
bool helpHandled(int argc, const char* const* argv, const char* synopsis, std::ostream& report, int& code);

/// What every program checks before its arguments: a lone -h or --help
/// writes the usage message to `report` and gives exitOk; any other first
/// argument that begins with '-' is refused with one line and the usage
/// message on `errors` and gives exitUsage, because the programs take no
/// options there (a file whose name begins with '-' is reached as ./-name).
/// Returns true, with `code` set, when the flow must end at once.
bool leadingDashHandled(int argc, const char* const* argv, const char* synopsis, std::ostream& report,
                        std::ostream& errors, int& code);
