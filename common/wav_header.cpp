#include "common/wav_header.h"

#include "common/little_endian.h"

#include <cstring>
#include <istream>
#include <ostream>

namespace {

void putCode(unsigned char* bytes, const char (&code)[4])
{
    std::memcpy(bytes, code, 4);
}

void getCode(const unsigned char* bytes, char (&code)[4])
{
    std::memcpy(code, bytes, 4);
}

// A code is printed like a C string in a five-byte buffer: a zero byte ends
// it early, and nothing past the fourth byte is ever printed.
void writeCode(std::ostream& report, const char (&code)[4])
{
    char text[5] = {code[0], code[1], code[2], code[3], 0};
    report << text;
}

bool codeIs(const char (&code)[4], const char* expected)
{
    return std::memcmp(code, expected, 4) == 0;
}

void setCode(char (&code)[4], const char* text)
{
    std::memcpy(code, text, 4);
}

// Reads one record as one block over its current bytes, so that a short
// read replaces only the bytes it obtained.
template <typename Record>
void readRecord(std::istream& in, Record& record)
{
    unsigned char bytes[Record::size];
    record.toBytes(bytes);
    in.read(reinterpret_cast<char*>(bytes), Record::size);
    record.fromBytes(bytes);
}

template <typename Record>
void writeRecord(std::ostream& out, const Record& record)
{
    unsigned char bytes[Record::size];
    record.toBytes(bytes);
    out.write(reinterpret_cast<const char*>(bytes), Record::size);
}

} // namespace

ChunkHeader ChunkHeader::forData(std::int32_t dataBytes)
{
    ChunkHeader header;
    setCode(header.chunkID, "data");
    header.chunkSize = dataBytes;
    return header;
}

void ChunkHeader::toBytes(unsigned char* bytes) const
{
    putCode(bytes, chunkID);
    putLittleEndian32(bytes + 4, chunkSize);
}

void ChunkHeader::fromBytes(const unsigned char* bytes)
{
    getCode(bytes, chunkID);
    chunkSize = littleEndian32(bytes + 4);
}

void ChunkHeader::dump(std::ostream& report) const
{
    report << "   chunkID:\t";
    writeCode(report, chunkID);
    report << std::endl;
    report << " chunkSize:\t" << chunkSize << std::endl;
}

RiffHeader RiffHeader::forData(std::int32_t dataBytes)
{
    RiffHeader header;
    setCode(header.chunk.chunkID, "RIFF");
    // Formed in 32 bits like the data count; accepted settings stay below 2^32.
    header.chunk.chunkSize = signedFromBits(static_cast<std::uint32_t>(dataBytes) + 36u);
    setCode(header.format, "WAVE");
    return header;
}

void RiffHeader::toBytes(unsigned char* bytes) const
{
    chunk.toBytes(bytes);
    putCode(bytes + 8, format);
}

void RiffHeader::fromBytes(const unsigned char* bytes)
{
    chunk.fromBytes(bytes);
    getCode(bytes + 8, format);
}

void RiffHeader::dump(std::ostream& report) const
{
    chunk.dump(report);
    report << "    format:\t";
    writeCode(report, format);
    report << std::endl;
}

FmtChunk FmtChunk::stereo16()
{
    FmtChunk fmt;
    setCode(fmt.chunk.chunkID, "fmt ");
    fmt.chunk.chunkSize = 16;
    fmt.fmtCode = 1;
    fmt.numChan = 2;
    fmt.sampRate = 44100;
    fmt.byteRate = 176400;
    fmt.blockAlign = 4;
    fmt.bitsSamp = 16;
    return fmt;
}

void FmtChunk::toBytes(unsigned char* bytes) const
{
    chunk.toBytes(bytes);
    putLittleEndian16(bytes + 8, fmtCode);
    putLittleEndian16(bytes + 10, numChan);
    putLittleEndian32(bytes + 12, sampRate);
    putLittleEndian32(bytes + 16, byteRate);
    putLittleEndian16(bytes + 20, blockAlign);
    putLittleEndian16(bytes + 22, bitsSamp);
}

void FmtChunk::fromBytes(const unsigned char* bytes)
{
    chunk.fromBytes(bytes);
    fmtCode = littleEndian16(bytes + 8);
    numChan = littleEndian16(bytes + 10);
    sampRate = littleEndian32(bytes + 12);
    byteRate = littleEndian32(bytes + 16);
    blockAlign = littleEndian16(bytes + 20);
    bitsSamp = littleEndian16(bytes + 22);
}

void FmtChunk::dump(std::ostream& report) const
{
    chunk.dump(report);
    report << "   fmtCode:\t" << fmtCode << "\n   numChan:\t" << numChan
           << "\n  sampRate:\t" << sampRate << "\n  byteRate:\t" << byteRate
           << "\nblockAlign:\t" << blockAlign << "\n  bitsSamp:\t" << bitsSamp << std::endl;
}

WavHeader WavHeader::forData(std::int32_t dataBytes)
{
    return WavHeader{RiffHeader::forData(dataBytes), FmtChunk::stereo16(), ChunkHeader::forData(dataBytes)};
}

void WavHeader::write(std::ostream& out) const
{
    writeRecord(out, riff);
    writeRecord(out, fmt);
    writeRecord(out, data);
}

void WavHeader::read(std::istream& in)
{
    readRecord(in, riff);
    readRecord(in, fmt);
    readRecord(in, data);
}

void WavHeader::dump(std::ostream& report) const
{
    riff.dump(report);
    fmt.dump(report);
    data.dump(report);
}

bool WavHeader::describesGeneratorFormat() const
{
    const FmtChunk expected = FmtChunk::stereo16();
    return codeIs(riff.chunk.chunkID, "RIFF") && codeIs(riff.format, "WAVE")
        && codeIs(fmt.chunk.chunkID, "fmt ") && fmt.chunk.chunkSize == expected.chunk.chunkSize
        && fmt.fmtCode == expected.fmtCode && fmt.numChan == expected.numChan
        && fmt.sampRate == expected.sampRate && fmt.byteRate == expected.byteRate
        && fmt.blockAlign == expected.blockAlign && fmt.bitsSamp == expected.bitsSamp
        && codeIs(data.chunkID, "data");
}
