#include "common/stereo_wav_writer.h"

#include "common/little_endian.h"
#include "common/units.h"

#include <cmath>
#include <ostream>
#include <vector>

namespace {

// Where the RIFF size and the data size lie in the 44-byte header.
constexpr std::int64_t riffSizeAt = 4;
constexpr std::int64_t dataSizeAt = 40;

// The size fields are unsigned 32-bit values; the header records hold
// them signed, with the same bits.
std::int32_t sizeField(std::int64_t bytes)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes));
}

} // namespace

std::int16_t toSample16(double value, bool& held)
{
    held = false;
    if (std::isnan(value))
        return 0;
    double rounded = std::nearbyint(value);
    held = rounded > largestCode16 || rounded < smallestCode16;
    if (held)
        rounded = rounded > 0 ? largestCode16 : smallestCode16;
    return static_cast<std::int16_t>(rounded);
}

std::int16_t toSample16(double value)
{
    bool held = false;
    return toSample16(value, held);
}

bool StereoWavWriter::begin(std::int64_t frames)
{
    if (frames < 0 || frames > maxFrames)
        return false;
    WavHeader::forData(sizeField(frames * frameBytes)).write(out);
    written = 0;
    return bool(out);
}

void StereoWavWriter::putPacked(const unsigned char* bytes, std::int64_t frames)
{
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(frames * frameBytes));
    written += frames;
}

void StereoWavWriter::put(const std::int16_t* interleaved, std::int64_t frames)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(frames * frameBytes));
    for (std::size_t i = 0; i < static_cast<std::size_t>(2 * frames); ++i)
        putLittleEndian16(&bytes[2 * i], interleaved[i]);
    putPacked(bytes.data(), frames);
}

bool StereoWavWriter::fixSizes()
{
    std::streampos end = out.tellp();
    writeStereoWavSizes(out, written);
    out.seekp(end);
    return bool(out);
}

void writeStereoWavSizes(std::ostream& file, std::int64_t frames)
{
    std::int64_t dataBytes = frames * StereoWavWriter::frameBytes;
    for (std::int64_t field : {riffSizeAt, dataSizeAt}) {
        unsigned char size[4];
        putLittleEndian32(size, sizeField(dataBytes + (field == riffSizeAt ? 36 : 0)));
        file.seekp(field);
        file.write(reinterpret_cast<const char*>(size), 4);
    }
}
