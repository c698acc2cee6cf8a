#include "sound_writer.h"

#include <sndfile.h>

namespace {

SNDFILE* file(void* handle)
{
    return static_cast<SNDFILE*>(handle);
}

} // namespace

SoundWriter::~SoundWriter()
{
    close();
}

bool SoundWriter::open(const std::string& path)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    handle = sf_open(path.c_str(), SFM_WRITE, &info);
    if (handle == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    sf_command(file(handle), SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return true;
}

bool SoundWriter::write(const std::int16_t* frames, std::int64_t count)
{
    sf_count_t done = sf_writef_short(file(handle), frames, count);
    written += done;
    if (done != count) {
        error = sf_strerror(file(handle));
        return false;
    }
    return true;
}

bool SoundWriter::close()
{
    if (handle == nullptr)
        return true;
    int status = sf_close(file(handle));
    handle = nullptr;
    if (status != 0) {
        error = sf_error_number(status);
        return false;
    }
    return true;
}
