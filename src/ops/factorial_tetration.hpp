// Factorial (64-bit on the module, 128-bit on the method) and tetration.
#pragma once

#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::factorial_tetration {

Outcome<std::int64_t> factorial(std::int64_t n) noexcept;
// The stored number truncated to a 128-bit int (NaN counts as 0).
Outcome<double> factorial_stored(double stored) noexcept;
// The tower base ** (base ** (... ** base)) of `height` bases; polls for
// signals while it climbs.
Outcome<double> tetration(double base, std::int64_t height, SignalPoll poll) noexcept;

inline constexpr std::tuple callables{
    Callable{"factorial",
             {function_only("number")},
             Function{&factorial},
             Method{&factorial_stored, Takes::stored_number}},
    Callable{"tetration",
             {function_only("base"), "height"},
             Function{&tetration},
             Method{&tetration, Takes::stored_number}},
};

}  // namespace tesmar::ops::factorial_tetration
