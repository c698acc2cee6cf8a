#include "audio/sound_file.h"

#include "common/units.h"

#include <sndfile.h>

namespace {

SNDFILE* file(void* handle)
{
    return static_cast<SNDFILE*>(handle);
}

std::string formatName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || info.name == nullptr)
        return "unknown";
    return info.name;
}

} // namespace

SoundFile::~SoundFile()
{
    if (handle != nullptr)
        sf_close(file(handle));
}

bool SoundFile::open(const std::string& path)
{
    SF_INFO info{};
    handle = sf_open(path.c_str(), SFM_READ, &info);
    if (handle == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    frames = info.frames;
    rate = info.samplerate;
    channels = info.channels;
    format = info.format;
    seekable = info.seekable != 0;
    // Floating-point files beyond full scale keep their values; integer
    // files read back as the integers they hold, scaled to 16 bits.
    sf_command(file(handle), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    sf_command(file(handle), SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_FALSE);
    return true;
}

std::int64_t SoundFile::read(double* samples, std::int64_t count)
{
    sf_count_t got = sf_readf_double(file(handle), samples, count);
    if (sf_error(file(handle)) != SF_ERR_NO_ERROR) {
        error = sf_strerror(file(handle));
        return -1;
    }
    for (sf_count_t i = 0; i < got * channels; ++i)
        samples[i] *= sampleScale16;
    return got;
}

bool SoundFile::seek(std::int64_t frame)
{
    if (sf_seek(file(handle), frame, SEEK_SET) != frame) {
        error = sf_strerror(file(handle));
        return false;
    }
    return true;
}

bool SoundFile::sixteenBit() const
{
    return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
}

std::string SoundFile::description() const
{
    return formatName(format & SF_FORMAT_TYPEMASK) + ", " + formatName(format & SF_FORMAT_SUBMASK);
}
