#pragma once

#include <cstdint>
#include <string>

/// A recording written through libsndfile as the analyzer reads it: WAV,
/// 16-bit stereo at 44100 Hz, with the 44-byte header. The header is kept
/// up to date after every write, so a file left by a run that ends early
/// still describes the frames it holds.
struct SoundWriter {
    void* handle = nullptr;  ///< the library's SNDFILE
    std::int64_t written = 0;  ///< frames written so far
    std::string error;         ///< why the last operation failed

    SoundWriter() = default;
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;
    ~SoundWriter();

    /// Creates (or truncates) `path`. False, with `error` set, on failure.
    bool open(const std::string& path);

    /// Writes `count` interleaved frames. False, with `error` set, when
    /// not all of them were written.
    bool write(const std::int16_t* frames, std::int64_t count);

    /// Closes the file, writing its final header. False, with `error`
    /// set, when closing failed.
    bool close();
};
