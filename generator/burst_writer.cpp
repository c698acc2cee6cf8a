#include "burst_writer.h"

#include "bits.h"

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
                unsigned char* frame = block + 4 * j;
                putLittleEndian16(frame, toneBurstSample(start + j, schedule.omega));
                frame[2] = frame[0];
                frame[3] = frame[1];
            }
            clearFrom(burstFrames);
            dirtyFrames = std::max(dirtyFrames, burstFrames);
            out.write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(count) * 4);
        }
    }
}
