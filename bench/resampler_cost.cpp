// The rate converter's own cost on a recording: reads two channels of it
// whole, then converts each as ravprep does (the project's Resampler, so
// the same library settings), and prints the CPU microseconds that the
// conversion alone took, all threads counted.
//   resampler_cost RECORDING RATIO     (RATIO: input frames per output frame)
#include "audio/resampler.h"
#include "audio/sound_file.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double cpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

} // namespace

int main(int argc, char** argv)
{
    SoundFile file;
    if (argc != 3 || !file.open(argv[1]) || file.channels < 2)
        return 2;
    const double ratio = std::atof(argv[2]);
    std::vector<double> channels[2];
    std::vector<double> block(static_cast<std::size_t>(8192 * file.channels));
    for (std::int64_t got; (got = file.read(block.data(), 8192)) > 0;)
        for (std::int64_t i = 0; i < got; ++i)
            for (int c = 0; c < 2; ++c)
                channels[c].push_back(block[static_cast<std::size_t>(i * file.channels + c)]);
    double before = cpuMicroseconds();
    std::size_t written = 0;
    for (const std::vector<double>& input : channels) {
        Resampler resampler;
        if (!resampler.start(ratio))
            return 2;
        std::vector<double> output;
        resampler.process(input.data(), input.size(), output);
        resampler.finish(output);
        written += output.size();
    }
    std::printf("%.0f %zu\n", cpuMicroseconds() - before, written);
    return 0;
}
