#pragma once

#include <cstdint>

/// Reads a whole number as the command line takes it: leading white space,
/// an optional sign, decimal digits. The digits accumulate in 32 bits, so a
/// value beyond 32 bits wraps (4294967296 reads 0, 2147483648 reads
/// -2147483648). Text after the digits is ignored; text without a leading
/// number reads 0.
std::int32_t parseInteger(const char* text);

/// Reads a real as the command line takes it: leading white space, an
/// optional sign, digits with an optional decimal point and fraction, and an
/// optional exponent introduced by e, E, d or D. Only decimal notation is
/// read, so inf, nan and hexadecimal forms read 0 (or their leading 0).
/// Text after the number is ignored. The result is correctly rounded; a
/// magnitude beyond the double range gives an infinity.
double parseReal(const char* text);

/// True when the whole of `text` is a number in the grammar parseInteger
/// (or, for `isReal`, parseReal) reads: nothing before it but blanks,
/// nothing after it. Options that must refuse "abc" or "3x" check this.
bool isWholeInteger(const char* text);
bool isWholeReal(const char* text);
