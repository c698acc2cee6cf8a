#include "common/recording_start.h"

#include "common/command_line.h"
#include "common/exit_codes.h"

#include <istream>
#include <ostream>

int readRecordingStart(int argc, const char* const* argv, const char* synopsis, std::istream& in,
                       BurstSchedule& schedule, WavHeader& header, std::ostream& errors)
{
    int code = readArguments(argc, argv, synopsis, schedule, errors);
    if (code != exitOk)
        return code;
    if (in.fail()) {
        errors << "Failed to open input file: " << argv[1] << std::endl;
        return exitOpen;
    }
    header.read(in);
    // Tested once, after all three records. A read error (a directory, a
    // failing disk) leaves the stream bad rather than at its end, and is no
    // more a header than the end of the file is.
    if (in.eof() || in.bad()) {
        errors << "Failed to read header info from disk." << std::endl;
        return exitHeader;
    }
    return exitOk;
}

void warnAboutForeignHeader(const WavHeader& header, std::ostream& errors)
{
    if (!header.describesGeneratorFormat())
        errors << "Warning: the header does not describe 16-bit stereo PCM at 44100 Hz; "
                  "the samples are read as such from byte 44."
               << std::endl;
}
