#include "audio/float_wav.h"

#include <sndfile.h>

#include <ostream>

namespace {

// libsndfile writes through these to a std::ostream, which must be
// seekable: the header is completed at the end.
sf_count_t streamLength(void* user)
{
    std::ostream& out = *static_cast<std::ostream*>(user);
    std::streampos here = out.tellp();
    out.seekp(0, std::ios::end);
    std::streampos end = out.tellp();
    out.seekp(here);
    return static_cast<sf_count_t>(end);
}

sf_count_t streamSeek(sf_count_t offset, int whence, void* user)
{
    std::ostream& out = *static_cast<std::ostream*>(user);
    std::ios::seekdir from = whence == SEEK_SET ? std::ios::beg : whence == SEEK_CUR ? std::ios::cur : std::ios::end;
    out.seekp(offset, from);
    return static_cast<sf_count_t>(out.tellp());
}

sf_count_t streamRead(void*, sf_count_t, void*)
{
    return 0;  // written only
}

sf_count_t streamWrite(const void* data, sf_count_t count, void* user)
{
    std::ostream& out = *static_cast<std::ostream*>(user);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
    return out ? count : 0;
}

sf_count_t streamTell(void* user)
{
    return static_cast<sf_count_t>(static_cast<std::ostream*>(user)->tellp());
}

} // namespace

bool writeFloatWav(std::ostream& out, const std::vector<float>& frames, int channels, int rate, std::string& error)
{
    SF_VIRTUAL_IO io{streamLength, streamSeek, streamRead, streamWrite, streamTell};
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &out);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    sf_count_t count = static_cast<sf_count_t>(frames.size() / static_cast<std::size_t>(channels));
    bool whole = sf_writef_float(file, frames.data(), count) == count;
    if (!whole)
        error = sf_strerror(file);
    if (sf_close(file) != 0 && whole) {
        error = "closing the file failed";
        whole = false;
    }
    return whole && bool(out);
}
