#pragma once

#include <cstdint>
#include <string>

/// A recording opened through libsndfile: any container and sample
/// encoding it reads, frames delivered as doubles on the 16-bit scale
/// (full scale 32768), so a 16-bit file's samples arrive unchanged.
struct SoundFile {
    void* handle = nullptr;  ///< the library's SNDFILE
    std::int64_t frames = 0;
    int rate = 0;
    int channels = 0;
    int format = 0;          ///< the library's format word
    bool seekable = false;   ///< false for a pipe or FIFO, which can be read only once
    std::string error;       ///< why the last operation failed

    SoundFile() = default;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    ~SoundFile();

    /// Opens `path` for reading. False, with `error` set, when the file
    /// cannot be opened or is not a sound file the library decodes.
    bool open(const std::string& path);

    /// Reads up to `count` frames, interleaved, into `samples`. Returns
    /// the frames read; 0 at the end; -1, with `error` set, on a failure.
    std::int64_t read(double* samples, std::int64_t count);

    /// Goes back to the first frame. False, with `error` set, on failure.
    bool rewind() { return seek(0); }

    /// Goes to frame `frame`. False, with `error` set, on failure.
    bool seek(std::int64_t frame);

    /// True when the samples are 16-bit integers.
    bool sixteenBit() const;

    /// "<container>, <encoding>" in the library's own words.
    std::string description() const;
};
