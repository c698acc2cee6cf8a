#include "tests/synthetic_recording.h"

#include "common/tone_burst.h"
#include "locator/step_table.h"
#include "tests/test_support.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

namespace {

// Unit normal noise from a 32-bit Mersenne twister, the same numbers as
// the library's normal distribution draws from it (two words a uniform, the
// polar method, the spare kept), without its uniform's per-draw logarithm
// of the generator's range, which clang's build does not fold away and
// which took a tenth of a sanitized test's time.
struct Gaussian {
    std::mt19937 bits;
    double spare = 0;
    bool haveSpare = false;

    explicit Gaussian(unsigned seed) : bits(seed) {}

    double uniform()
    {
        const double low = double(bits());
        const double high = double(bits());
        return std::min((low + high * 4294967296.0) / 18446744073709551616.0, std::nextafter(1.0, 0.0));
    }

    double operator()()
    {
        if (haveSpare) {
            haveSpare = false;
            return spare;
        }
        double x, y, r2;
        do {
            x = 2.0 * uniform() - 1.0;
            y = 2.0 * uniform() - 1.0;
            r2 = x * x + y * y;
        } while (r2 > 1.0 || r2 == 0.0);
        const double scale = std::sqrt(-2 * std::log(r2) / r2);
        spare = x * scale;
        haveSpare = true;
        return y * scale;
    }
};

// What an ideal converter plays from the generator's file: its samples,
// joined by a band-limited (Kaiser-windowed sinc) interpolation, evaluated
// at played time t (frames from the file's first frame). At whole frames
// it is the file itself. Only bursts are non-zero, so only they cost.
struct PlayedSignal {
    static constexpr int reach = 64;

    const StepTable& table;
    std::vector<std::vector<double>> samples;  // each step's burst as the generator writes it

    explicit PlayedSignal(const StepTable& steps) : table(steps), samples(steps.steps.size()) {}

    // A recorder below the played rate band-limits first, as its converter
    // does: the sinc is widened by 1 / band and cut at the recorder's half
    // rate, so that nothing above it aliases.
    double band = 1;

    double span() const { return reach / band; }

    static double i0(double v)
    {
        double sum = 1, term = 1;
        for (int k = 1; k < 40; ++k) {
            term *= (v / (2 * k)) * (v / (2 * k));
            sum += term;
        }
        return sum;
    }

    double kernel(double x) const
    {
        const double pi = std::acos(-1.0);
        double r = x / span();
        if (r * r >= 1)
            return 0;
        double y = band * x;
        double sinc = y == 0 ? 1.0 : std::sin(pi * y) / (pi * y);
        const double beta = 8;
        static const double atBeta = i0(beta);
        return band * sinc * i0(beta * std::sqrt(1 - r * r)) / atBeta;
    }

    // The kernel's weights for taps `whole - n` frames before a time whose
    // fraction of a frame is `fraction`, kept for the last fraction asked
    // for: on a recorder on the player's clock every sample has the same.
    // Other fractions are read off a table of the kernel at 1/4096 of a
    // frame, linearly interpolated (off by under 1e-7 of the kernel's
    // peak, far below the 16-bit step).
    static constexpr int tableSteps = 4096;
    double lastFraction = -1;
    int fractionsSeen = 0;
    std::int64_t reachFrames = 0;  // taps either side that the weights cover
    std::vector<double> weights, kernelTable;

    double tabled(double x)
    {
        if (kernelTable.empty()) {
            kernelTable.resize(static_cast<std::size_t>(2 * reachFrames * tableSteps + 2));
            for (std::size_t i = 0; i < kernelTable.size(); ++i)
                kernelTable[i] = kernel(double(i) / tableSteps - double(reachFrames));
        }
        double at = (x + double(reachFrames)) * tableSteps;
        std::size_t below = static_cast<std::size_t>(at);
        if (at < 0 || below + 1 >= kernelTable.size())
            return 0;
        double part = at - double(below);
        return kernelTable[below] + part * (kernelTable[below + 1] - kernelTable[below]);
    }

    // The weights for a time whose fraction of a frame is `fraction`,
    // indexed by `reachFrames + whole - n` for tap n. A fraction within
    // 1e-9 of a frame of the last one is taken as the same: the sums of a
    // constant latency differ from frame to frame in their last bits only,
    // and a kernel moved by 1e-9 of a frame changes by under 1e-8 of its peak.
    const double* weightsFor(double fraction)
    {
        if (std::fabs(fraction - lastFraction) > 1e-9) {
            reachFrames = static_cast<std::int64_t>(std::ceil(span())) + 1;
            // The table pays once the fraction has changed a few times.
            const bool useTable = ++fractionsSeen > 4;
            lastFraction = fraction;
            weights.resize(static_cast<std::size_t>(2 * reachFrames + 1));
            for (std::int64_t j = -reachFrames; j <= reachFrames; ++j)
                weights[static_cast<std::size_t>(j + reachFrames)]
                    = useTable ? tabled(fraction + double(j)) : kernel(fraction + double(j));
        }
        return weights.data();
    }

    const std::vector<double>& burstOf(std::size_t step)
    {
        std::vector<double>& burst = samples[step];
        if (burst.empty())
            for (std::int32_t n = 0; n < table.steps[step].duration; ++n)
                burst.push_back(toneBurstSample(n, table.steps[step].omega));
        return burst;
    }

    // The longest burst: times further than the interpolation's reach from
    // every burst are silent without looking at their step.
    std::int32_t longest = 0;

    double at(double t)
    {
        double sinceFirst = t - table.delay;
        if (table.numAvg <= 0 || sinceFirst < -span())
            return 0;
        if (longest == 0)
            for (const StepInfo& step : table.steps)
                longest = std::max(longest, step.duration);
        // The burst that starts at or before t, and the next one (t may
        // lie in the interpolation's reach before it).
        double first = std::floor(sinceFirst / table.interval);
        const double intoInterval = sinceFirst - first * table.interval;
        if (intoInterval >= longest + span() && intoInterval <= table.interval - span())
            return 0;
        double value = 0;
        for (double burst = first; burst <= first + 1; ++burst) {
            if (burst < 0 || burst >= double(table.bursts()))
                continue;
            std::size_t step = static_cast<std::size_t>(static_cast<std::int64_t>(burst) / table.numAvg);
            double u = sinceFirst - burst * table.interval;
            const std::int32_t duration = table.steps[step].duration;
            if (u <= -span() || u >= duration + span())
                continue;
            const std::vector<double>& s = burstOf(step);
            std::int64_t lo = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil(u - span())));
            std::int64_t hi = std::min<std::int64_t>(duration - 1, static_cast<std::int64_t>(std::floor(u + span())));
            const double whole = std::floor(u);
            const double fraction = u - whole;
            if (fraction == 0 && band == 1) {
                // At a whole frame the interpolation is the file's own sample.
                if (whole >= 0 && whole < duration)
                    value += s[static_cast<std::size_t>(whole)];
                continue;
            }
            // Four running sums, so that the additions need not wait on
            // each other.
            const double* w = weightsFor(fraction) + reachFrames + static_cast<std::int64_t>(whole);
            double sums[4] = {0, 0, 0, 0};
            std::int64_t n = lo;
            for (; n + 3 <= hi; n += 4)
                for (int k = 0; k < 4; ++k)
                    sums[k] += s[static_cast<std::size_t>(n + k)] * w[-(n + k)];
            for (; n <= hi; ++n)
                sums[0] += s[static_cast<std::size_t>(n)] * w[-n];
            value += (sums[0] + sums[1]) + (sums[2] + sums[3]);
        }
        return value;
    }
};

struct FilterState {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    double run(const Biquad& f, double x)
    {
        double y = f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// One channel's filter sections and their states.
struct ChannelFilters {
    std::vector<Biquad> main, parallel;
    std::vector<FilterState> mainStates, parallelStates;

    explicit ChannelFilters(const RecorderChannel& channel)
        : main{channel.filter, channel.highPass}, parallel(channel.parallel)
    {
        main.insert(main.end(), channel.more.begin(), channel.more.end());
        mainStates.resize(main.size());
        parallelStates.resize(parallel.size());
    }

    // `x` enters the main path, `y` the parallel one.
    double run(double x, double y)
    {
        double a = x;
        for (std::size_t i = 0; i < main.size(); ++i)
            a = mainStates[i].run(main[i], a);
        if (parallel.empty())
            return a;
        double b = y;
        for (std::size_t i = 0; i < parallel.size(); ++i)
            b = parallelStates[i].run(parallel[i], b);
        return a + b;
    }
};

} // namespace

std::complex<double> RecorderChannel::response(double frequencyHz, double ppm, int rate) const
{
    const double sampled = frequencyHz * 44100 / rate / (1 + ppm * 1e-6);
    const double omega = 2 * std::acos(-1.0) * frequencyHz / 44100;
    std::complex<double> a = filter.response(sampled) * highPass.response(sampled);
    for (const Biquad& section : more)
        a *= section.response(sampled);
    if (!parallel.empty()) {
        std::complex<double> b = 1;
        for (const Biquad& section : parallel)
            b *= section.response(sampled);
        a += b * std::polar(1.0, -omega * parallelDelayFrames);
    }
    a *= 1.0 + echoGain * std::polar(1.0, -omega * echoFrames);
    return gain * a * std::polar(1.0, -omega * delayFrames);
}

void SyntheticRecording::write(const std::string& path) const
{
    StepTable table = StepTable::from(scheduleFor(args));
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = fileChannels;
    info.format = format != 0 ? format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        std::abort();
    if (listChunk)
        sf_set_string(file, SF_STR_COMMENT, "recorded by a synthetic recorder");
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // Integer files take values in their own units, rounded by the library;
    // floating-point files hold full scale as 1.
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
    double unit = 1;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24: unit = 256; break;
    case SF_FORMAT_PCM_32: unit = 65536; break;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE: unit = 1 / 32768.0; break;
    default: break;
    }

    auto stepAt = [&](double t) {
        double clock = ppmChangeAt >= 0 && t >= ppmChangeAt ? ppmAfter : ppm;
        return 44100.0 / rate / (1 + clock * 1e-6);
    };
    const double step = stepAt(0);
    const std::int64_t frames = static_cast<std::int64_t>(
        (table.playedLength() + latencyFrames + (tailSeconds + leadSeconds) * 44100) / step);
    Gaussian gauss(7);
    double noiseRms = noiseDb > 0 ? 24000 * std::pow(10.0, -noiseDb / 20) : 0;
    double humLevel = humDb > 0 ? 24000 * std::pow(10.0, -humDb / 20) : 0;
    const double pi = std::acos(-1.0);
    std::vector<ChannelFilters> filters{ChannelFilters(channels[0]), ChannelFilters(channels[1])};
    PlayedSignal signal(table);
    signal.band = std::min(1.0, rate / 44100.0);
    std::vector<double> block;
    // Played time of recording frame m: origin + (m - originFrame) * current,
    // restarted at every edit and where the clock changes.
    std::size_t edit = 0;
    double origin = -latencyFrames - leadSeconds * 44100, current = step;
    std::int64_t originFrame = 0;
    std::int64_t inserted = 0;  // silent frames still to write
    double t = origin;
    for (std::int64_t m = 0; m < frames; ++m) {
        t = origin + double(m - originFrame) * current;
        if (stepAt(t) != current) {
            origin = t;
            originFrame = m;
            current = stepAt(t);
        }
        if (inserted == 0 && edit < edits.size() && edits[edit].at == m) {
            if (edits[edit].restart)
                t = -latencyFrames;
            else if (edits[edit].frames < 0)
                t += double(-edits[edit].frames) * current;
            else
                inserted = edits[edit].frames;
            origin = t;
            originFrame = m + std::max<std::int64_t>(inserted, 0);
            ++edit;
        }
        for (int c = 0; c < fileChannels; ++c) {
            const RecorderChannel& channel = channels[c];
            double value = 0;
            if (inserted == 0) {
                double input = signal.at(t - channel.delayFrames);
                if (channel.echoGain != 0)
                    input += channel.echoGain * signal.at(t - channel.delayFrames - channel.echoFrames);
                double gain = channel.gain;
                if (!channel.stepGains.empty()) {
                    double step = std::floor((t - channel.delayFrames - table.delay) / table.interval / table.numAvg);
                    gain *= channel.stepGains[static_cast<std::size_t>(
                        std::clamp(step, 0.0, double(channel.stepGains.size() - 1)))];
                }
                double other = input;
                if (channel.parallelDelayFrames != 0 && !channel.parallel.empty()) {
                    const double later = t - channel.delayFrames - channel.parallelDelayFrames;
                    other = signal.at(later);
                    if (channel.echoGain != 0)
                        other += channel.echoGain * signal.at(later - channel.echoFrames);
                }
                value = filters[static_cast<std::size_t>(c)].run(gain * input, gain * other);
                if (channel.clipLevel > 0)
                    value = channel.clipLevel * std::tanh(value / channel.clipLevel);
            }
            if (inserted == 0)
                for (const ChannelDamage& d : damage)
                    if (d.channel == c && t >= d.from && t < d.to)
                        value = d.value;
            if (noiseRms > 0 && std::isfinite(value))
                value += noiseRms * gauss();
            if (humLevel > 0) {
                double seconds = double(m) / rate;
                for (int h = 1; h <= 4; ++h)
                    value += humLevel / h * std::sin(2 * pi * 50 * h * seconds + h);
            }
            block.push_back(value * unit);
        }
        if (inserted > 0)
            --inserted;
        if (block.size() >= 65536 || m + 1 == frames) {
            sf_writef_double(file, block.data(), static_cast<sf_count_t>(block.size() / fileChannels));
            block.clear();
        }
    }
    sf_close(file);
}
