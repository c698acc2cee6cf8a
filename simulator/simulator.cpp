#include "simulator/simulator.h"

#include "common/exit_codes.h"
#include "common/output_target.h"
#include "common/replacing_file.h"
#include "common/stereo_wav_writer.h"
#include "common/wav_header.h"
#include "simulator/sim_options.h"

#include <cstdint>
#include <fstream>
#include <ostream>

int runSimulator(int argc, const char* const* argv, std::ostream& report, std::ostream& errors)
{
    int code = exitOk;
    const OptionTable& table = simOptionTable();
    if (table.helpHandled(argc, argv, report, code))
        return code;
    SimOptions options;
    code = options.read(argc, argv, errors);
    if (code != exitOk)
        return code;
    if (table.outputIsInput(options.input, "the input", options.output, errors))
        return exitUsage;
    if (outputRefused(options.output, "ravsim: cannot write ", errors))
        return exitOpen;
    std::ifstream in(options.input, std::ios::binary | std::ios::ate);
    if (!in) {
        errors << "ravsim: cannot read " << options.input << std::endl;
        return exitOpen;
    }
    const std::int64_t inputBytes = in.tellg();
    in.seekg(0);
    if (inputBytes < WavHeader::size) {
        errors << "ravsim: " << options.input << " holds no " << WavHeader::size << "-byte WAV header" << std::endl;
        return exitHeader;
    }
    // The recording's header describes what is written: the input's frames
    // and the latency ahead of them.
    const std::int64_t inputFrames = (inputBytes - WavHeader::size) / StereoWavWriter::frameBytes;
    if (inputFrames + options.path.extraFramesBefore > StereoWavWriter::maxFrames) {
        return table.refuse(errors, "--latency " + std::to_string(options.path.extraFramesBefore)
                                        + " refused: the recording would hold more than the "
                                        + std::to_string(largestWavData)
                                        + " data bytes that the WAV size fields can describe.");
    }
    // Written beside its name and renamed into place when whole, so that a
    // failed run leaves any earlier recording as it was.
    ReplacingFile out;
    if (!out.open(options.output)) {
        errors << "ravsim: cannot write " << options.output << ": " << out.problem << std::endl;
        return exitOpen;
    }
    if (!options.path.record(in, inputFrames, out.out) || !out.commit()) {
        errors << "ravsim: cannot write " << options.output << ": "
               << (out.problem.empty() ? "a write did not complete" : out.problem) << std::endl;
        return exitStreamFailed;
    }
    return exitOk;
}
