#include "fit/fit_options.h"

#include "common/command_line.h"
#include "common/exit_codes.h"
#include "common/number_text.h"
#include "common/report_format.h"
#include "common/units.h"
#include "fit/identification.h"
#include "fit/impulse_fit.h"
#include "locator/step_table.h"

#include <algorithm>
#include <ostream>
#include <vector>

const OptionTable& fitOptionTable()
{
    static const OptionTable table = [] {
        OptionTable built{"ravfit",
                          "ravfit recording [delay [numAvg [startFreq [sweep|polar]]]] [--channels A,B] "
                          "[--reference 1|2|none] [--gate MS] [--ppo N] [--ir FILE]",
                          RecordingOptions::rules()};
        // The gate can be no longer than the impulse response the fit finds.
        built.rules.push_back(OptionRule::real("--gate", "MS", "milliseconds", 0, sweepTaps / sampleRate * 1000,
                                               "a fixed window from each channel's arrival", false));
        built.rules.push_back(OptionRule::whole("--ppo", "N", "points per octave", 1, 96,
                                                "rows on a logarithmic grid instead of one per step"));
        built.rules.push_back(OptionRule::text("--ir", "FILE", "a file name", "where to write the impulse responses"));
        return built;
    }();
    return table;
}

int FitOptions::read(int argc, const char* const* argv, std::ostream& errors)
{
    const OptionTable& table = fitOptionTable();
    SplitLine line;
    std::string refusal = table.split(argc, argv, line);
    if (!refusal.empty())
        return table.refuse(errors, refusal);
    for (const auto& [name, value] : line.options) {
        if (RecordingOptions::owns(name))
            input.take(name, value);
        else if (name == "--gate")
            gateMs = parseReal(value.c_str());
        else if (name == "--ppo")
            pointsPerOctave = parseInteger(value.c_str());
        else
            impulseFile = value;
    }
    const std::vector<const char*>& positional = line.positional;
    if (positional.size() < 2 || positional.size() > 6)
        return table.refuseCount(errors);
    input.recording = positional[1];
    int code = readArguments(static_cast<int>(positional.size()), positional.data(), table.synopsis, input.schedule,
                             errors);
    if (code == exitOk && pointsPerOctave > 0 && !input.schedule.sweep)
        return table.refuse(errors, "--ppo refused: a polar run has one frequency; its rows are its steps.");
    if (code == exitOk && gateMs > 0) {
        // A row is read only where the gate holds gatePeriods of its
        // periods; a gate that holds them of no step would leave every row out.
        double highest = 0;
        for (const StepInfo& step : StepTable::from(input.schedule).steps)
            highest = std::max(highest, step.actFreq);
        const double shortest = gatePeriods * 1000 / highest;
        if (gateMs < shortest)
            return table.refuse(errors, "--gate " + fixedText(gateMs, 3) + " refused: a gate reads a step only where it "
                                            "holds three periods of it, and this run's highest step, "
                                            + fixedText(highest, 0) + " Hz, needs " + fixedText(shortest, 3)
                                            + " ms.");
    }
    return code;
}
