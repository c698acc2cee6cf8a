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
