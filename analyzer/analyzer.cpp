#include "analyzer/analyzer.h"

#include "analyzer/burst_analyzer.h"
#include "common/burst_schedule.h"
#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/recording_start.h"
#include "common/wav_header.h"

#include <istream>
#include <ostream>

int runAnalyzer(int argc, const char* const* argv, std::istream& in, std::ostream& report,
                std::ostream& errors)
{
    int code = exitOk;
    if (leadingDashHandled(argc, argv, analyzerSynopsis, report, errors, code))
        return code;
    BurstSchedule schedule;
    WavHeader header;
    code = readRecordingStart(argc, argv, analyzerSynopsis, in, schedule, header, errors);
    if (code != exitOk)
        return code;

    writeRunHeader(report, argc, argv);
    header.dump(report);
    warnAboutForeignHeader(header, errors);
    schedule.printSettings(report);
    report << "numCyc\tduration\tnomFreq\tactFreq\tabs 1\tabs 2\tdB 1\tdB 2\tdB diff"
              "\tphase 1\tphase 2\tphase diff\tbkg 1\tbkg 2"
           << std::endl;

    BurstAnalyzer analyzer;
    analyzer.probe(in);
    analyzer.skipFrames(schedule.delay, in);
    for (schedule.begin(); schedule.hasMore(); schedule.next()) {
        // A read error leaves the stream bad, not at its end; it ends the
        // run the same way rather than measuring silence to the last step.
        if (in.eof() || in.bad()) {
            errors << "Failed to read tone bursts from disk." << std::endl;
            return exitStreamFailed;
        }
        schedule.printRow(report);
        report << '\t';
        analyzer.measureStep(schedule, in, report);
    }
    return exitOk;
}
