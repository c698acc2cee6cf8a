#include "burst_writer.h"

#include "tone_burst.h"

#include <algorithm>
#include <ostream>

void BurstWriter::clearFrom(int frame)
{
    if (dirtyFrames > frame)
        std::fill(block + 4 * frame, block + 4 * dirtyFrames, static_cast<unsigned char>(0));
    dirtyFrames = std::min(dirtyFrames, frame);
}

void BurstWriter::writeSilence(std::int64_t frames, std::ostream& out)
{
    clearFrom(0);
    while (frames > 0) {
        std::int64_t count = std::min<std::int64_t>(frames, blockFrames);
        out.write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(count * 4));
        frames -= count;
    }
}

void BurstWriter::writeStep(const BurstSchedule& schedule, std::ostream& out)
{
    for (std::int32_t repetition = 0; repetition < schedule.numAvg; ++repetition) {
        for (std::int32_t start = 0; start < schedule.interval; start += blockFrames) {
            int count = static_cast<int>(std::min<std::int32_t>(blockFrames, schedule.interval - start));
            int burstFrames = static_cast<int>(
                std::clamp<std::int64_t>(std::int64_t(schedule.duration) - start, 0, count));
            for (int j = 0; j < burstFrames; ++j) {
                auto bits = static_cast<std::uint16_t>(toneBurstSample(start + j, schedule.omega));
                unsigned char low = static_cast<unsigned char>(bits & 0xFFu);
                unsigned char high = static_cast<unsigned char>(bits >> 8);
                unsigned char* frame = block + 4 * j;
                frame[0] = low;
                frame[1] = high;
                frame[2] = low;
                frame[3] = high;
            }
            clearFrom(burstFrames);
            dirtyFrames = std::max(dirtyFrames, burstFrames);
            out.write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(count) * 4);
        }
    }
}
