// Greatest common divisor of integers and of rounded doubles, and a least
// common multiple folded in floating point. Euclid runs on unsigned 64-bit
// magnitudes, so -2**63 has its true magnitude and no gcd is negative.
#pragma once

#include "binding/items.hpp"
#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::gcd_lcm {

Outcome<std::uint64_t> gcd_with_int(IntegerItems items) noexcept;
// Items rounded half away from zero, then saturated to 64 bits.
Outcome<std::uint64_t> gcd_with_float(NumberItems items) noexcept;
// m = |a0|, then m = m * |b| / gcd(m, |b|) for each next item b; a zero gcd
// gives 0.0.
double lcm_with(NumberItems items) noexcept;

// The methods compute from the list alone and replace the stored number;
// gcd_with_float stores float(g) and returns the exact int g.
inline constexpr std::tuple callables{
    Callable{"gcd_with_int",
             {"args"},
             Function{&gcd_with_int},
             Method{&gcd_with_int, Takes::arguments_only}},
    Callable{"gcd_with_float",
             {"args"},
             Function{&gcd_with_float},
             Method{&gcd_with_float, Takes::arguments_only, WriteBack::store_return_value}},
    Callable{"lcm_with", {"args"}, Function{&lcm_with}, Method{&lcm_with, Takes::arguments_only}},
};

}  // namespace tesmar::ops::gcd_lcm
