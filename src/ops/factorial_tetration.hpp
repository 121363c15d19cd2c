// Factorial (64-bit on the module, 128-bit on the method) and tetration.
#pragma once

#include "binding/outcome.hpp"
#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::factorial_tetration {

Outcome<std::int64_t> factorial(std::int64_t n) noexcept;
// The stored number truncated to a 128-bit int (NaN counts as 0).
Outcome<double> factorial_stored(double stored) noexcept;
// The tower base ** (base ** (... ** base)) of `height` bases, climbed a
// piece at a time: the binding polls for signals between two pieces.
class Tower {
public:
    // Climbs one piece; false once the top is reached or the tower failed.
    bool advance() noexcept;
    [[nodiscard]] Outcome<double> finish() const noexcept;

private:
    friend Tower tetration(double base, std::int64_t height) noexcept;
    static constexpr std::uint64_t piece = std::uint64_t{1} << 16U;  // steps

    double base_ = 0.0;
    double value_ = 0.0;
    std::uint64_t steps_ = 0;  // to climb, cut short once the values repeat
    std::uint64_t done_ = 0;
    const char *error_ = nullptr;
    // Brent's tortoise, and how far the values have run since it was set
    std::uint64_t marked_ = 0;
    std::uint64_t since_mark_ = 0;
    std::uint64_t window_ = 1;
    bool repeating_ = false;
};

Tower tetration(double base, std::int64_t height) noexcept;

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
