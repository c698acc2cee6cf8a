#include "analyzer.h"

#include "burst_analyzer.h"
#include "burst_schedule.h"
#include "command_line.h"
#include "exit_codes.h"
#include "wav_header.h"

#include <istream>
#include <ostream>

int runAnalyzer(int argc, const char* const* argv, std::istream& in, std::ostream& report,
                std::ostream& errors)
{
    BurstSchedule schedule;
    int code = readArguments(argc, argv, analyzerSynopsis, schedule, errors);
    if (code != exitOk)
        return code;
    if (in.fail()) {
        errors << "Failed to open input file: " << argv[1] << std::endl;
        return exitOpen;
    }
    WavHeader header;
    header.read(in);
    if (in.eof()) {
        errors << "Failed to read header info from disk." << std::endl;
        return exitHeader;
    }

    writeRunHeader(report, argc, argv);
    header.dump(report);
    if (!header.describesGeneratorFormat())
        errors << "Warning: the header does not describe 16-bit stereo PCM at 44100 Hz; "
                  "the samples are read as such from byte 44."
               << std::endl;
    schedule.printSettings(report);
    report << "numCyc\tduration\tnomFreq\tactFreq\tabs 1\tabs 2\tdB 1\tdB 2\tdB diff"
              "\tphase 1\tphase 2\tphase diff\tbkg 1\tbkg 2"
           << std::endl;

    BurstAnalyzer analyzer;
    analyzer.skipFrames(schedule.delay, in);
    for (schedule.begin(); schedule.hasMore(); schedule.next()) {
        if (in.eof()) {
            errors << "Failed to read tone bursts from disk." << std::endl;
            return exitSteps;
        }
        schedule.printRow(report);
        report << '\t';
        analyzer.measureStep(schedule, in, report);
    }
    return exitOk;
}
