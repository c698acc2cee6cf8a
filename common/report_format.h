#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

/// Room for any real in the report format, with its terminating zero.
constexpr std::size_t realTextSize = 32;

/// Writes `value` into `text` as the reports print reals: six significant
/// digits in the %g style, the exponent with a sign and exactly three digits
/// (1.5e-005, 1e+100), and inf, -inf or nan for non-finite values (nan
/// whatever its sign bit). Returns the length written.
std::size_t formatReal(double value, char (&text)[realTextSize]);

/// `value` with `decimals` digits after the point (%.*f), for the lines
/// that give measured facts: non-finite values as formatReal spells them,
/// and a value that rounds to zero without a sign.
std::string fixedText(double value, int decimals);

/// Writes `value` to `out` in the format of formatReal.
void writeReal(std::ostream& out, double value);

/// One report row's fields, gathered in a fixed buffer so that the row
/// reaches the stream in one write: integers as the streams print them in
/// the classic locale, reals as formatReal writes them.
struct RowText {
    /// Room for the widest row: fourteen fields and their tabs.
    static constexpr std::size_t capacity = 16 * realTextSize;

    char text[capacity];
    std::size_t length = 0;

    void addInteger(long value);
    void addReal(double value);
    void addTab() { text[length++] = '\t'; }
    /// Writes what has been gathered; ends no line.
    void writeTo(std::ostream& out) const;
};
