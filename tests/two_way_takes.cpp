// Writes three takes of one two-way loudspeaker at one microphone position,
// as a builder records them for a crossover: the woofer alone, the tweeter
// alone and both together, through a recorder at 48000 Hz on its own clock
// (43 ppm fast) whose latency differs from take to take. Channel 2 is the
// loopback. The tweeter's acoustic centre lies 3.6 frames nearer than the
// woofer's, so the drivers' timing between takes matters to their sum.
//
//   two_way_takes FOLDER GENERATOR-ARGUMENTS...
//
// writes FOLDER/woofer.wav, FOLDER/tweeter.wav and FOLDER/whole.wav, made by
// the synthetic recorder (the burst formula at the recorder's sample times,
// through textbook biquads), never by the programs under test.
#include "tests/synthetic_recording.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

SyntheticRecording take(const std::vector<std::string>& args, double latency)
{
    SyntheticRecording recording;
    recording.args = args;
    recording.rate = 48000;
    recording.ppm = 43;
    recording.latencyFrames = latency;
    recording.noiseDb = 70;
    return recording;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: two_way_takes FOLDER GENERATOR-ARGUMENTS...\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    const double q = std::sqrt(0.5);
    const double wooferDelay = 131.0, tweeterDelay = 127.4;
    const std::vector<Biquad> wooferSections{Biquad::highPass(55, 0.8), Biquad::lowPass(2200, q),
                                             Biquad::lowPass(2200, q)};
    const std::vector<Biquad> tweeterSections{Biquad::highPass(2200, q), Biquad::highPass(2200, q)};

    RecorderChannel woofer;
    woofer.gain = 0.7;
    woofer.filter = wooferSections[0];
    woofer.highPass = wooferSections[1];
    woofer.more = {wooferSections[2]};
    woofer.delayFrames = wooferDelay;

    RecorderChannel tweeter;
    tweeter.gain = 0.7;
    tweeter.filter = tweeterSections[0];
    tweeter.highPass = tweeterSections[1];
    tweeter.delayFrames = tweeterDelay;

    RecorderChannel whole = woofer;
    whole.parallel = tweeterSections;
    whole.parallelDelayFrames = tweeterDelay - wooferDelay;

    const struct {
        const char* name;
        const RecorderChannel& device;
        double latency;
    } takes[] = {{"woofer", woofer, 700.4}, {"tweeter", tweeter, 1181.9}, {"whole", whole, 955.6}};
    for (const auto& t : takes) {
        SyntheticRecording recording = take(args, t.latency);
        recording.channels[0] = t.device;
        recording.write(folder + "/" + t.name + ".wav");
    }
    return 0;
}
