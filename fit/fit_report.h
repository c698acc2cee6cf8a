#pragma once

#include "fit/identification.h"

#include <iosfwd>

/// The column header of the per-step rows and of the log-grid rows.
void writeStepHeader(std::ostream& report);
void writeGridHeader(std::ostream& report);

/// After the row's first columns and a tab: the two channels' readings in
/// ravan's units and signs (dB; radians, a later arrival reading a larger
/// phase), their differences, then `err`, and with `perStep` also `dist`
/// and `noise`; ends the line.
void writeReadings(std::ostream& report, const ChannelReading (&readings)[2], bool perStep);
