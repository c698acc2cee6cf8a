#include "generator/burst_writer.h"

#include "common/little_endian.h"
#include "common/tone_burst.h"
#include "generator/burst_samples.h"

#include <algorithm>
#include <cstring>
#include <ostream>

void BurstWriter::writeChunk(std::ostream& out)
{
    out.write(reinterpret_cast<const char*>(chunk.get()), chunkFill);
    for (int i = 0; i < dirtyCount; ++i)
        std::memset(chunk.get() + dirtyBegin[i], 0, static_cast<std::size_t>(dirtyEnd[i] - dirtyBegin[i]));
    dirtyCount = 0;
    chunkFill = 0;
    bytesAhead = 0;
}

void BurstWriter::put(const unsigned char* bytes, std::int64_t count, std::ostream& out)
{
    while (count > 0) {
        int part = static_cast<int>(std::min<std::int64_t>(count, chunkBytes - bytesAhead - chunkFill));
        std::memcpy(chunk.get() + chunkFill, bytes, static_cast<std::size_t>(part));
        if (dirtyCount > 0 && dirtyEnd[dirtyCount - 1] == chunkFill) {
            dirtyEnd[dirtyCount - 1] += part;
        } else if (dirtyCount == dirtySlots) {
            dirtyEnd[dirtySlots - 1] = chunkFill + part;
        } else {
            dirtyBegin[dirtyCount] = chunkFill;
            dirtyEnd[dirtyCount++] = chunkFill + part;
        }
        chunkFill += part;
        bytes += part;
        count -= part;
        if (chunkFill + bytesAhead == chunkBytes)
            writeChunk(out);
    }
}

void BurstWriter::skip(std::int64_t count, std::ostream& out)
{
    while (count > 0) {
        int part = static_cast<int>(std::min<std::int64_t>(count, chunkBytes - bytesAhead - chunkFill));
        chunkFill += part;
        count -= part;
        if (chunkFill + bytesAhead == chunkBytes)
            writeChunk(out);
    }
}

void BurstWriter::finish(std::ostream& out)
{
    if (chunkFill > 0)
        writeChunk(out);
}

void BurstWriter::writeSilence(std::int64_t frames, std::ostream& out)
{
    skip(std::max<std::int64_t>(frames, 0) * 4, out);
}

void BurstWriter::computeBurst(int frames, double omega)
{
    // A polar run's steps all share one burst.
    if (frames == computedFrames && omega == computedOmega)
        return;
    computeBurstSamples(frames, omega, samples.get());
    for (int i = 0; i < frames; ++i) {
        putLittleEndian16(&burst[4 * static_cast<std::size_t>(i)], samples[static_cast<std::size_t>(i)]);
        burst[4 * i + 2] = burst[4 * i];
        burst[4 * i + 3] = burst[4 * i + 1];
    }
    computedFrames = frames;
    computedOmega = omega;
}

void BurstWriter::writeStep(const BurstSchedule& schedule, std::ostream& out)
{
    const std::int64_t interval = std::max<std::int32_t>(schedule.interval, 0);
    const std::int64_t frames = std::clamp<std::int64_t>(schedule.duration, 0, interval);
    if (frames <= burstFrames) {
        computeBurst(static_cast<int>(frames), schedule.omega);
        for (std::int32_t repetition = 0; repetition < schedule.numAvg; ++repetition) {
            put(burst.get(), frames * 4, out);
            skip((interval - frames) * 4, out);
        }
        return;
    }
    // A burst longer than any schedule's, sample by sample.
    for (std::int32_t repetition = 0; repetition < schedule.numAvg; ++repetition) {
        for (std::int64_t i = 0; i < frames; ++i) {
            unsigned char frame[4];
            putLittleEndian16(frame, toneBurstSample(static_cast<std::int32_t>(i), schedule.omega));
            frame[2] = frame[0];
            frame[3] = frame[1];
            put(frame, 4, out);
        }
        skip((interval - frames) * 4, out);
    }
}
