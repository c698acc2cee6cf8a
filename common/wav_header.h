#pragma once

#include <cstdint>
#include <iosfwd>

/// The most data bytes a file's 32-bit size fields describe: the count plus
/// 36 must stay below 2^32 (read unsigned, as every program but the
/// header dump does).
constexpr std::int64_t largestWavData = (std::int64_t(1) << 32) - 37;

/// A chunk's identifier and size: the data chunk header, and the first
/// eight bytes of the other two records. 8 bytes.
struct ChunkHeader {
    static constexpr int size = 8;

    char chunkID[4] = {0, 0, 0, 0};
    std::int32_t chunkSize = 0;

    /// The data chunk header for `dataBytes` bytes of sample frames.
    static ChunkHeader forData(std::int32_t dataBytes);

    void toBytes(unsigned char* bytes) const;
    void fromBytes(const unsigned char* bytes);
    /// Writes the chunkID and chunkSize lines.
    void dump(std::ostream& report) const;
};

/// The RIFF header that opens the file. 12 bytes.
struct RiffHeader {
    static constexpr int size = 12;

    ChunkHeader chunk;
    char format[4] = {0, 0, 0, 0};

    /// "RIFF", `dataBytes` + 36, "WAVE".
    static RiffHeader forData(std::int32_t dataBytes);

    void toBytes(unsigned char* bytes) const;
    void fromBytes(const unsigned char* bytes);
    void dump(std::ostream& report) const;
};

/// The fmt chunk: its chunk header and the PCM format fields. 24 bytes.
struct FmtChunk {
    static constexpr int size = 24;

    ChunkHeader chunk;
    std::int16_t fmtCode = 0;
    std::int16_t numChan = 0;
    std::int32_t sampRate = 0;
    std::int32_t byteRate = 0;
    std::int16_t blockAlign = 0;
    std::int16_t bitsSamp = 0;

    /// 16-bit stereo integer PCM at 44100 frames per second.
    static FmtChunk stereo16();

    void toBytes(unsigned char* bytes) const;
    void fromBytes(const unsigned char* bytes);
    void dump(std::ostream& report) const;
};

/// The three records of the 44-byte header, in file order.
struct WavHeader {
    static constexpr int size = RiffHeader::size + FmtChunk::size + ChunkHeader::size;

    RiffHeader riff;
    FmtChunk fmt;
    ChunkHeader data;

    /// The header the generator writes ahead of `dataBytes` bytes of frames.
    static WavHeader forData(std::int32_t dataBytes);

    /// Writes the three records as three blocks of 12, 24 and 8 bytes,
    /// little-endian field by field. Failures show in the stream's state.
    void write(std::ostream& out) const;

    /// Reads the three records as three blocks from `in`. A short read
    /// keeps the bytes it obtained; the caller tests the stream for the end
    /// of the file. No field is checked.
    void read(std::istream& in);

    /// Dumps the RIFF header, the fmt chunk and the data chunk header.
    void dump(std::ostream& report) const;

    /// True when every field holds what the generator writes, apart from
    /// the two sizes that depend on the data.
    bool describesGeneratorFormat() const;
};
