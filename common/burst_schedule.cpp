#include "common/burst_schedule.h"

#include "common/little_endian.h"
#include "common/report_format.h"

#include <cmath>
#include <limits>
#include <ostream>

namespace {

// Truncation toward zero into 32 bits, clamped where the value cannot be
// held (only for start frequencies the command line refuses).
std::int32_t truncateToInt32(double value)
{
    if (!(value < 2147483648.0))
        return std::numeric_limits<std::int32_t>::max();
    if (!(value > -2147483649.0))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

} // namespace

double cyclesReaching(double fromCycles, double samplesPerCycle, double minDuration)
{
    if (fromCycles * samplesPerCycle >= minDuration)
        return fromCycles;
    if (!(samplesPerCycle > 0.0))
        return std::numeric_limits<double>::infinity();
    double cycles = std::ceil(minDuration / samplesPerCycle);
    if (!(cycles < 9007199254740992.0))  // beyond exact integers in double
        return std::numeric_limits<double>::infinity();
    // The product is monotone in the count, so the estimate is off by at
    // most a step or two of rounding either way.
    while (cycles - 1.0 > fromCycles && (cycles - 1.0) * samplesPerCycle >= minDuration)
        cycles -= 1.0;
    while (cycles * samplesPerCycle < minDuration)
        cycles += 1.0;
    return cycles;
}

BurstSchedule::BurstSchedule()
{
    computeBurst();
}

void BurstSchedule::setMode(bool isSweep)
{
    sweep = isSweep;
    if (sweep) {
        numSteps = sweepSteps;
        startFreq = 100.0;
        endFreq = sweepEndFreq;
    } else {
        numSteps = polarSteps;
        // Intended and kept: a polar run's "end freq" shows this 1000, not
        // the start frequency; stored reports carry it.
        startFreq = 1000.0;
        endFreq = 1000.0;
        interval = polarInterval;
    }
}

void BurstSchedule::begin()
{
    remaining = numSteps;
    nomFreq = startFreq;
    numCyc = 1;
    if (sweep) {
        endFreq = sweepEndFreq;
        numSteps = sweepSteps;
        ratio = std::pow(sweepEndFreq / startFreq, 0.005);
    } else {
        endFreq = startFreq;
        numSteps = polarSteps;
        ratio = 1.0;
    }
    computeBurst();
}

bool BurstSchedule::next()
{
    if (remaining < 1)
        return false;
    if (sweep) {
        nomFreq = nomFreq * ratio;
        computeBurst();
    }
    remaining = remaining - 1;
    return true;
}

void BurstSchedule::computeBurst()
{
    double samplesPerCycle = sampRate / nomFreq;
    double cycles = cyclesReaching(numCyc, samplesPerCycle, minDuration);
    numCyc = truncateToInt32(cycles);
    // The product is formed as cycles times samples per cycle, in that order.
    double frames = numCyc * samplesPerCycle;
    duration = truncateToInt32(frames);
    burstFits = cycles <= 2147483647.0 && frames < 2147483648.0;
    actFreq = static_cast<double>(numCyc) * sampRate / duration;
    omega = (actFreq * fullTurn) / sampRate;
}

std::int32_t BurstSchedule::dataBytes() const
{
    std::uint32_t frames = static_cast<std::uint32_t>(delay)
        + static_cast<std::uint32_t>(numAvg) * static_cast<std::uint32_t>(numSteps)
            * static_cast<std::uint32_t>(interval);
    return signedFromBits(frames << 2);
}

void BurstSchedule::printSettings(std::ostream& report) const
{
    report << "      mode:\t" << (sweep ? "freq sweep" : "polar plot");
    report << "\nstart freq:\t";
    writeReal(report, startFreq);
    report << "\n  end freq:\t";
    writeReal(report, endFreq);
    report << "\n num steps:\t" << numSteps;
    report << "\n averaging:\t" << numAvg;
    report << "\n     delay:\t" << delay;
    report << "\n  interval:\t" << interval << std::endl;
}

void BurstSchedule::printRow(std::ostream& report) const
{
    RowText row;
    row.addInteger(numCyc);
    row.addTab();
    row.addInteger(duration);
    row.addTab();
    row.addReal(nomFreq);
    row.addTab();
    row.addReal(actFreq);
    row.writeTo(report);
}
