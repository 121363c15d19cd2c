#include "ops/factorial_tetration.hpp"

#include "binding/numeric.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace tesmar::ops::factorial_tetration {
namespace {

// Messages callers match on: they never change, not even where the two
// surfaces word one error differently (the method's overflow ends in a full
// stop).
constexpr const char *negative_factorial = "The factorial of a negative number is not defined.";
constexpr const char *factorial_overflow = "Factorial overflow";
constexpr const char *factorial_stored_overflow = "Factorial overflow.";
constexpr const char *negative_height = "Height can't be negative";
constexpr const char *infinite_tower = "The result is too big (infinity)";

// n! with every multiplication tested for overflow; at most a few dozen
// steps, since the product overflows long before the counter could.
template <class Int>
constexpr Outcome<Int> exact_factorial(Int n, const char *overflow) noexcept
{
    if (n < 0) {
        return value_error(negative_factorial);
    }
    Int product = 1;
    for (Int factor = 2; factor <= n; ++factor) {
        if (__builtin_mul_overflow(product, factor, &product)) {
            return value_error(overflow);
        }
    }
    return product;
}

constexpr std::int64_t largest_factorial_argument = 20;

// 0! to 20!, made by the same loop so the two cannot disagree.
constexpr auto factorial_table = [] {
    std::array<std::int64_t, largest_factorial_argument + 1> table{};
    for (std::int64_t n = 0; n <= largest_factorial_argument; ++n) {
        table[static_cast<std::size_t>(n)] = *exact_factorial<std::int64_t>(n, factorial_overflow);
    }
    return table;
}();
static_assert(factorial_table[20] == 2432902008176640000);
static_assert(!exact_factorial<std::int64_t>(largest_factorial_argument + 1, factorial_overflow));

}  // namespace

Outcome<std::int64_t> factorial(std::int64_t n) noexcept
{
    if (n < 0) {
        return value_error(negative_factorial);
    }
    if (n > largest_factorial_argument) {
        return value_error(factorial_overflow);
    }
    return factorial_table[static_cast<std::size_t>(n)];
}

Outcome<double> factorial_stored(double stored) noexcept
{
    auto product = exact_factorial(saturate_to<int128>(stored), factorial_stored_overflow);
    if (!product) {
        return std::unexpected(product.error());
    }
    return static_cast<double>(*product);
}

// The tower x0 = base, x(k+1) = pow(base, x(k)); height h gives x(h - 1).
// Each step depends only on the bits of the previous value, so once a value
// comes back bit for bit (a fixed point, a NaN, a cycle of any length) the
// rest of the sequence repeats with that period and the steps left can be
// cut to their remainder. Brent's method finds the repeat within a few
// periods of where it starts; until then the steps are the plain loop's, in
// its order, so an infinity met first is still reported.
Tower tetration(double base, std::int64_t height) noexcept
{
    Tower tower;
    tower.base_ = base;
    tower.value_ = height == 0 ? 1.0 : base;
    tower.marked_ = std::bit_cast<std::uint64_t>(base);
    if (height < 0) {
        tower.error_ = negative_height;
    }
    else if (height > 1) {
        tower.steps_ = static_cast<std::uint64_t>(height) - 1;
    }
    return tower;
}

bool Tower::advance() noexcept
{
    const std::uint64_t piece_end = done_ + piece;
    while (done_ < steps_ && done_ < piece_end) {
        ++done_;
        value_ = std::pow(base_, value_);
        if (std::isinf(value_)) {
            error_ = infinite_tower;
            return false;
        }
        if (repeating_) {
            continue;
        }
        const auto bits = std::bit_cast<std::uint64_t>(value_);
        ++since_mark_;
        if (bits == marked_) {
            // x(done) == x(done - since_mark): the rest has that period.
            steps_ = done_ + (steps_ - done_) % since_mark_;
            repeating_ = true;
        }
        else if (since_mark_ == window_) {
            marked_ = bits;
            since_mark_ = 0;
            window_ *= 2;
        }
    }
    return done_ < steps_;
}

Outcome<double> Tower::finish() const noexcept
{
    if (error_ != nullptr) {
        return value_error(error_);
    }
    return value_;
}

}  // namespace tesmar::ops::factorial_tetration
