// Greatest common divisor of integers and of rounded doubles, and a least
// common multiple folded in floating point. Euclid runs on unsigned 64-bit
// magnitudes, so -2**63 has its true magnitude and no gcd is negative.
// Each computation is a fold that the binding drives over the items (see
// binding/fold.hpp); the steps are defined here, inline, so that they
// inline into the binding's walk.
#pragma once

#include "binding/numeric.hpp"
#include "binding/outcome.hpp"
#include "number_class/callable.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tesmar::ops::gcd_lcm {

inline std::uint64_t magnitude(std::int64_t value) noexcept
{
    auto bits = static_cast<std::uint64_t>(value);
    return value < 0 ? 0 - bits : bits;
}

inline std::uint64_t euclid(std::uint64_t x, std::uint64_t y) noexcept
{
    while (y != 0) {
        std::uint64_t remainder = x % y;
        x = y;
        y = remainder;
    }
    return x;
}

// Whether d divides x, by one multiplication instead of a division (the
// running gcd divides most items once it settles): x is a multiple of
// 2**shift and of the odd part, and for odd d, x * d**-1 mod 2**64 is at
// most (2**64 - 1) / d exactly when d divides x (Granlund and Montgomery).
class Divisor {
public:
    explicit Divisor(std::uint64_t d) noexcept : Divisor(d >> twos(d), twos(d)) {}
    bool divides(std::uint64_t x) const noexcept
    {
        return (x & low_bits_) == 0 && x * inverse_ <= limit_;
    }

private:
    static unsigned twos(std::uint64_t d) noexcept
    {
        return static_cast<unsigned>(std::countr_zero(d));
    }

    // Newton's iteration doubles the correct low bits: 3, 6, ..., 96.
    static std::uint64_t inverse_of(std::uint64_t odd) noexcept
    {
        std::uint64_t inverse = odd;
        for (int i = 0; i < 5; ++i) {
            inverse *= 2 - odd * inverse;
        }
        return inverse;
    }

    Divisor(std::uint64_t odd, unsigned shift) noexcept
        : low_bits_((std::uint64_t{1} << shift) - 1),
          inverse_(inverse_of(odd)),
          limit_(std::numeric_limits<std::uint64_t>::max() / odd)
    {
    }

    std::uint64_t low_bits_;
    std::uint64_t inverse_;
    std::uint64_t limit_;
};

// The integer view of an item: a double's halves away from zero, then
// saturated.
inline std::int64_t integer_view(double x) noexcept
{
    return saturate_to<std::int64_t>(std::round(x));
}
inline std::int64_t integer_view(std::int64_t x) noexcept { return x; }

// The gcd of the items' integer views; `of_nothing` without items.
template <class T>
struct Gcd {
    using Item = T;
    const char *of_nothing;
    std::uint64_t divisor = 0;
    Divisor test{1};
    bool seen = false;

    bool first(T item) noexcept
    {
        seen = true;
        return step(item);
    }
    bool step(T item) noexcept
    {
        const std::uint64_t m = magnitude(integer_view(item));
        if (divisor != 0 && test.divides(m)) {
            return true;
        }
        divisor = euclid(divisor, m);
        if (divisor != 0) {
            test = Divisor{divisor};
        }
        return divisor != 1;  // gcd(1, n) is 1 for every n
    }
    [[nodiscard]] Outcome<std::uint64_t> finish() const noexcept
    {
        if (!seen) {
            return value_error(of_nothing);
        }
        return divisor;
    }
};

// m = |a0|, then m = m * |b| / gcd(m, |b|) for each next item b; a zero gcd
// gives 0.0, and so do no items.
struct Lcm {
    using Item = double;
    double multiple = 0.0;
    bool folded = true;

    void first(double item) noexcept { multiple = std::fabs(item); }
    bool step(double item) noexcept
    {
        const double b = std::fabs(item);
        const std::uint64_t divisor =
            euclid(magnitude(integer_view(multiple)), magnitude(integer_view(b)));
        folded = divisor != 0;
        if (folded) {
            multiple = (multiple * b) / static_cast<double>(divisor);
        }
        return folded;
    }
    [[nodiscard]] double finish() const noexcept { return folded ? multiple : 0.0; }
};

Gcd<std::int64_t> gcd_with_int() noexcept;
// Items rounded half away from zero, then saturated to 64 bits.
Gcd<double> gcd_with_float() noexcept;
Lcm lcm_with() noexcept;

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
