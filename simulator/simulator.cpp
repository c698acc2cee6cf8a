#include "simulator.h"

#include "bits.h"
#include "command_line.h"
#include "exit_codes.h"
#include "replacing_file.h"
#include "same_file.h"
#include "sim_options.h"
#include "wav_header.h"

#include <cstdint>
#include <fstream>
#include <ostream>

int runSimulator(int argc, const char* const* argv, std::ostream& report, std::ostream& errors)
{
    int code = exitOk;
    if (leadingDashHandled(argc, argv, simulatorSynopsis, report, errors, code))
        return code;
    SimOptions options;
    code = options.read(argc, argv, errors);
    if (code != exitOk)
        return code;
    if (sameFile(options.input, options.output)) {
        errors << "ravsim: " << options.output << " is the input itself; name another file to write." << std::endl;
        return exitUsage;
    }
    std::ifstream in(options.input, std::ios::binary | std::ios::ate);
    if (!in) {
        errors << "ravsim: cannot read " << options.input << std::endl;
        return exitOpen;
    }
    const std::int64_t inputBytes = in.tellg();
    in.seekg(0);
    unsigned char header[44] = {};
    if (inputBytes < 44 || !in.read(reinterpret_cast<char*>(header), 44) || !in.seekg(0)) {
        errors << "ravsim: " << options.input << " holds no 44-byte WAV header" << std::endl;
        return exitHeader;
    }
    // The recording's header describes what is written: the input's frames
    // and the latency ahead of them.
    const std::int64_t dataBytes = (inputBytes - 44) / 4 * 4 + 4 * std::int64_t(options.path.extraFramesBefore);
    if (44 + dataBytes > largestWavFile) {
        errors << "ravsim: --latency " << options.path.extraFramesBefore << ": the recording would exceed the "
               << largestWavFile << " bytes that a WAV file's size fields hold." << std::endl;
        return exitUsage;
    }
    putLittleEndian32(header + 4, static_cast<std::int32_t>(36 + dataBytes));
    putLittleEndian32(header + 40, static_cast<std::int32_t>(dataBytes));
    // Written beside its name and renamed into place when whole, so that a
    // failed run leaves any earlier recording as it was.
    ReplacingFile out;
    if (!out.open(options.output) || !options.path.record(in, header, out.out) || !out.commit()) {
        errors << "ravsim: cannot write " << options.output << std::endl;
        return exitStreamFailed;
    }
    return exitOk;
}
