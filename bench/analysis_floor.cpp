// The least an exact analysis of a default sweep costs on this machine, for
// bench/run.sh to set ravan against: per step one seek and one read of the
// 8191 bytes that ravan's stream buffer takes in (the previous step's
// background window up to this step's signal window), the library's cosine
// and sine of every window frame whose samples are not both zero, the sums,
// and one row of the same fields, formatted as ravan formats them and
// written at once. Nothing else: no header, no checks, no held values.
//   analysis_floor FILE
#include "common/burst_schedule.h"
#include "common/little_endian.h"
#include "common/report_format.h"
#include "common/wav_header.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdint>

namespace {

struct Sums {
    std::complex<double> channel1, channel2;

    // Adds the `count` frames at `bytes`, frames n0 on of their repetition.
    void add(const unsigned char* bytes, std::int64_t count, std::int64_t n0, double omega)
    {
        for (std::int64_t k = 0; k < count; ++k) {
            const unsigned char* frame = bytes + 4 * k;
            double s1 = littleEndian16(frame);
            double s2 = littleEndian16(frame + 2);
            if (s1 == 0 && s2 == 0)
                continue;
            double theta = omega * static_cast<double>(n0 + k);
            double c = std::cos(theta), s = std::sin(theta);
            channel1 += std::complex<double>(s1 * c, s1 * s);
            channel2 += std::complex<double>(s2 * c, s2 * s);
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    int file = argc == 2 ? open(argv[1], O_RDONLY) : -1;
    if (file < 0)
        return 2;
    static unsigned char bytes[8191];
    BurstSchedule schedule;
    std::int64_t stepStart = WavHeader::size + 4 * std::int64_t(schedule.delay);
    double lastOmega = 0;
    for (schedule.begin(); schedule.hasMore(); schedule.next(), stepStart += 4 * std::int64_t(schedule.interval)) {
        const std::int64_t duration = schedule.duration;
        const std::int64_t lead = 8 * duration;   // the last step's background window and the gap after it
        if (lseek(file, stepStart - lead, SEEK_SET) < 0 || read(file, bytes, sizeof bytes) < lead + 4 * duration)
            return 1;
        Sums background, signal;
        background.add(bytes, duration, schedule.interval - 2 * duration, lastOmega);
        signal.add(bytes + lead, duration, 0, schedule.omega);
        lastOmega = schedule.omega;

        RowText row;
        row.addInteger(schedule.numCyc);
        row.addTab();
        row.addInteger(schedule.duration);
        const double values[] = {schedule.nomFreq,
                                 schedule.actFreq,
                                 std::abs(signal.channel1),
                                 std::abs(signal.channel2),
                                 20 * std::log10(std::abs(signal.channel1)),
                                 20 * std::log10(std::abs(signal.channel2)),
                                 20 * std::log10(std::abs(signal.channel1) / std::abs(signal.channel2)),
                                 std::arg(signal.channel1),
                                 std::arg(signal.channel2),
                                 std::arg(signal.channel1) - std::arg(signal.channel2),
                                 20 * std::log10(std::abs(background.channel1)),
                                 20 * std::log10(std::abs(background.channel2))};
        for (double value : values) {
            row.addTab();
            row.addReal(value);
        }
        row.text[row.length++] = '\n';
        if (write(1, row.text, row.length) != static_cast<ssize_t>(row.length))
            return 1;
    }
    return 0;
}
