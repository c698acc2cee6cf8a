#pragma once

#include <cstdint>

/// The two's complement reading of 32 bits, without relying on the
/// conversion of out-of-range unsigned values.
inline std::int32_t signedFromBits(std::uint32_t bits)
{
    if (bits <= 0x7FFFFFFFu)
        return static_cast<std::int32_t>(bits);
    return static_cast<std::int32_t>(bits - 0x80000000u) - 0x7FFFFFFF - 1;
}

/// The two's complement reading of 16 bits.
inline std::int16_t signedFromBits16(std::uint16_t bits)
{
    return static_cast<std::int16_t>(bits <= 0x7FFFu ? bits : static_cast<int>(bits) - 0x10000);
}

/// The signed 16-bit little-endian value at `bytes`: a WAV field or sample.
inline std::int16_t littleEndian16(const unsigned char* bytes)
{
    return signedFromBits16(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

/// Writes the low 16 bits of `value` at `bytes`, little-endian: a WAV field
/// or sample.
inline void putLittleEndian16(unsigned char* bytes, std::int32_t value)
{
    auto bits = static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
    bytes[0] = static_cast<unsigned char>(bits & 0xFF);
    bytes[1] = static_cast<unsigned char>(bits >> 8);
}

/// Writes `value` at `bytes`, little-endian: a WAV size field.
inline void putLittleEndian32(unsigned char* bytes, std::int32_t value)
{
    auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>((bits >> (8 * i)) & 0xFFu);
}

/// The signed 32-bit little-endian value at `bytes`.
inline std::int32_t littleEndian32(const unsigned char* bytes)
{
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = (bits << 8) | bytes[i];
    return signedFromBits(bits);
}

/// The same for bytes held as char, as in a std::string.
inline std::int16_t littleEndian16(const char* bytes)
{
    return littleEndian16(reinterpret_cast<const unsigned char*>(bytes));
}

inline void putLittleEndian16(char* bytes, std::int32_t value)
{
    putLittleEndian16(reinterpret_cast<unsigned char*>(bytes), value);
}
