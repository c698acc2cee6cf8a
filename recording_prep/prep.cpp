#include "recording_prep/prep.h"

#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/option_reader.h"
#include "common/output_target.h"
#include "common/replacing_file.h"
#include "common/stereo_wav_writer.h"
#include "locator/step_table.h"
#include "recording/aligned_writer.h"
#include "recording/recording_findings.h"
#include "recording/timed_recording.h"
#include "recording_prep/prep_options.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

// Writes the aligned file: each channel placed by its own arrival.
int writeOutput(TimedRecording& recording, const PrepOptions& options, AlignedOutput& output, std::ostream& errors)
{
    const int ownLags[2] = {0, 1};
    std::vector<OutputStretch> stretches = recording.stretches(ownLags);
    std::int64_t frames = stretches.back().endFrame;
    ReplacingFile out;
    if (!out.open(options.aligned)) {
        errors << "Failed to open output file: " << options.aligned << ": " << out.problem << std::endl;
        return exitOpen;
    }
    StereoWavWriter(out.out).begin(frames);
    const int inputs[2] = {options.input.channelA - 1, options.input.channelB - 1};
    std::string error;
    if (!writeAlignedFrames(recording.file, inputs, stretches, recording.locator->table, recording.verdict, out.out,
                            output, error)) {
        errors << error << std::endl;
        return exitStreamFailed;
    }
    if (!out.commit()) {
        errors << "Failed to write tone bursts to disk." << std::endl;
        return exitStreamFailed;
    }
    return exitOk;
}

} // namespace

int runPrep(int argc, const char* const* argv, std::ostream& report, std::ostream& errors)
{
    int code = exitOk;
    const OptionTable& table = prepOptionTable();
    if (table.helpHandled(argc, argv, report, code))
        return code;
    PrepOptions options;
    code = options.read(argc, argv, errors);
    if (code != exitOk)
        return code;
    if (table.outputIsInput(options.input.recording, "the recording", options.aligned, errors))
        return exitUsage;
    if (outputRefused(options.aligned, "Failed to open output file: ", errors))
        return exitOpen;
    TimedRecording recording({"ravprep", "written as silence, so ravan reads -inf"});
    code = recording.start(options.input, table.synopsis, argc, argv, report, errors);
    if (code != exitOk)
        return code;
    recording.printFacts(report);
    for (const std::string& warning : recording.warnings(options.input))
        errors << warning << std::endl;

    AlignedOutput output;
    code = writeOutput(recording, options, output, errors);
    if (code != exitOk)
        return code;
    for (const std::string& warning : outputWarnings(recording.timing, output))
        errors << warning << std::endl;
    report << "wrote:\t" << options.aligned << std::endl;
    return exitOk;
}
