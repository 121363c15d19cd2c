// Decimal digits of doubles, from std::to_chars: for the text form of the
// stored number and for the defaults in text signatures.
#pragma once

#include <string>

namespace tesmar {

// Significant digits (no leading or trailing zeros) and exponent k: the
// value 0.d1d2...dn * 10**k.
struct Decimal {
    std::string digits;
    int k = 0;
};

// The shortest digits that read back as x; x finite and not zero (its sign
// is ignored).
[[nodiscard]] Decimal shortest_decimal(double x);
// x rounded to `precision` + 1 significant digits (ties to even).
[[nodiscard]] Decimal rounded_decimal(double x, int precision);

// x as Python's repr writes it: "0.0", "-2.5", "1e-05", "1e+16"; x finite.
[[nodiscard]] std::string python_float_text(double x);

}  // namespace tesmar
