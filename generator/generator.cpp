#include "generator/generator.h"

#include "common/burst_schedule.h"
#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/stereo_wav_writer.h"
#include "common/wav_header.h"
#include "generator/burst_writer.h"

#include <fstream>
#include <ostream>

int runGenerator(int argc, const char* const* argv, std::ostream& report, std::ostream& errors)
{
    int code = exitOk;
    if (leadingDashHandled(argc, argv, generatorSynopsis, report, errors, code))
        return code;
    BurstSchedule schedule;
    code = readArguments(argc, argv, generatorSynopsis, schedule, errors);
    if (code != exitOk)
        return code;
    const char* fileName = argv[1];
    std::ofstream out(fileName, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out) {
        errors << "Failed to open output file: " << fileName << std::endl;
        return exitOpen;
    }
    // The arguments were refused above where the header cannot describe
    // the file; its size fields hold the data bytes as unsigned values.
    StereoWavWriter wav(out);
    if (!wav.begin(std::int64_t(static_cast<std::uint32_t>(schedule.dataBytes())) / StereoWavWriter::frameBytes)) {
        errors << "Failed to write header info to disk." << std::endl;
        return exitHeader;
    }

    writeRunHeader(report, argc, argv);
    schedule.printSettings(report);
    // The blank after "actFreq" is intended and must stay: stored reports carry it.
    report << "numCyc\tduration\tnomFreq\tactFreq " << std::endl;

    BurstWriter writer(WavHeader::size);
    writer.writeSilence(schedule.delay, out);
    for (schedule.begin(); schedule.hasMore(); schedule.next()) {
        if (!out) {
            errors << "Failed to write tone bursts to disk." << std::endl;
            return exitStreamFailed;
        }
        writer.writeStep(schedule, out);
        schedule.printRow(report);
        report << std::endl;
    }

    // A write that fails in the last step, or only when the buffered tail
    // reaches the file at closing, has met no test yet.
    writer.finish(out);
    out.close();
    if (!out) {
        errors << "Failed to write tone bursts to disk." << std::endl;
        return exitStreamFailed;
    }
    return exitOk;
}
