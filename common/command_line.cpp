#include "common/command_line.h"

#include "common/exit_codes.h"
#include "common/number_text.h"
#include "common/report_format.h"
#include "common/wav_header.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

namespace {


bool burstsFitEveryStep(BurstSchedule walk)
{
    walk.begin();
    for (; walk.hasMore(); walk.next())
        if (!walk.burstFits)
            return false;
    return true;
}

std::int64_t dataBytesWide(const BurstSchedule& schedule)
{
    return (std::int64_t(schedule.delay)
            + std::int64_t(schedule.numAvg) * schedule.numSteps * schedule.interval) * 4;
}

// Writes the line that names a refused value, or nothing when every value
// is within the supported range; returns whether the settings are accepted.
bool checkSettings(const BurstSchedule& schedule, std::ostream& errors)
{
    if (!(schedule.startFreq > 0.0)) {
        errors << "Start frequency ";
        writeReal(errors, schedule.startFreq);
        errors << " refused: it must be above 0 Hz." << std::endl;
        return false;
    }
    if (!burstsFitEveryStep(schedule)) {
        errors << "Start frequency ";
        writeReal(errors, schedule.startFreq);
        errors << " refused: a burst would need more than 2147483647 cycles or frames." << std::endl;
        return false;
    }
    if (schedule.numAvg < 0) {
        errors << "numAvg " << schedule.numAvg << " refused: it must not be negative." << std::endl;
        return false;
    }
    if (schedule.delay < 0) {
        errors << "delay " << schedule.delay << " refused: it must not be negative." << std::endl;
        return false;
    }
    if (dataBytesWide(schedule) > largestWavData) {
        errors << "numAvg " << schedule.numAvg << " with delay " << schedule.delay
               << " refused: the data would take " << dataBytesWide(schedule)
               << " bytes, more than the " << largestWavData
               << " that the WAV size fields can describe." << std::endl;
        return false;
    }
    return true;
}

// The programs take no option before the file: a first argument that
// begins with '-' is a request for help or a mistake.
bool startsWithDash(int argc, const char* const* argv)
{
    return argc >= 2 && argv[1][0] == '-';
}

} // namespace

const char* usageLabel(const char* synopsis)
{
    // "Useage" is intended and must stay for ravgen and ravan, and for the
    // programs that were built beside them with the same message: scripts
    // match it as it is.
    for (const char* plain : {"ravfit ", "ravsim "})
        if (std::strncmp(synopsis, plain, std::strlen(plain)) == 0)
            return "Usage: ";
    return "Useage: ";
}

void writeUsage(std::ostream& errors, const char* synopsis)
{
    errors << usageLabel(synopsis) << synopsis << "\nBuilt " << __DATE__ << "." << std::endl;
}

bool argumentCountValid(int argc)
{
    return argc >= 2 && argc <= 6;
}

int readArguments(int argc, const char* const* argv, const char* synopsis,
                  BurstSchedule& schedule, std::ostream& errors)
{
    if (!argumentCountValid(argc)) {
        writeUsage(errors, synopsis);
        return exitUsage;
    }
    if (argc > 5 && std::toupper(static_cast<unsigned char>(argv[5][0])) == 'P')
        schedule.setMode(BurstSchedule::polarMode);
    if (argc > 4)
        schedule.startFreq = parseReal(argv[4]);
    if (argc > 3)
        schedule.numAvg = parseInteger(argv[3]);
    if (argc > 2)
        schedule.delay = parseInteger(argv[2]);
    if (!checkSettings(schedule, errors)) {
        writeUsage(errors, synopsis);
        return exitUsage;
    }
    return exitOk;
}

bool argumentsAccepted(int argc, const char* const* argv)
{
    if (startsWithDash(argc, argv))
        return false;
    BurstSchedule scratch;
    std::ostream silent(nullptr);
    return readArguments(argc, argv, "", scratch, silent) == exitOk;
}

void writeRunHeader(std::ostream& report, int argc, const char* const* argv)
{
    report << "executable:\t" << argv[0] << "\n arguments:\t" << argc - 1
           << "\n file name:\t" << argv[1] << std::endl;
}

bool helpHandled(int argc, const char* const* argv, const char* synopsis, std::ostream& report, int& code)
{
    if (argc != 2 || (std::string(argv[1]) != "-h" && std::string(argv[1]) != "--help"))
        return false;
    writeUsage(report, synopsis);
    code = exitOk;
    return true;
}

bool leadingDashHandled(int argc, const char* const* argv, const char* synopsis, std::ostream& report,
                        std::ostream& errors, int& code)
{
    if (!startsWithDash(argc, argv))
        return false;
    if (helpHandled(argc, argv, synopsis, report, code))
        return true;
    const std::string first = argv[1];
    errors << "Not a file name: " << first << " (the programs take no options here; write ./" << first
           << " for a file of that name)." << std::endl;
    writeUsage(errors, synopsis);
    code = exitUsage;
    return true;
}
