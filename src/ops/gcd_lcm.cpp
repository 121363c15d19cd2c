#include "ops/gcd_lcm.hpp"

#include "binding/numeric.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tesmar::ops::gcd_lcm {
namespace {

// Messages callers match on: they never change.
constexpr const char *gcd_with_int_of_nothing = "gcd_with_int() requires at least one argument";
constexpr const char *gcd_with_float_of_nothing = "gcd_with_float() requires at least one argument";

std::uint64_t magnitude(std::int64_t value) noexcept
{
    auto bits = static_cast<std::uint64_t>(value);
    return value < 0 ? 0 - bits : bits;
}

std::uint64_t euclid(std::uint64_t x, std::uint64_t y) noexcept
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

// The integer view of a double: halves away from zero, then saturated.
std::int64_t integer_view(double x) noexcept { return saturate_to<std::int64_t>(std::round(x)); }

template <class T, class View>
Outcome<std::uint64_t> gcd_fold(Items<T> items, View view, const char *empty) noexcept
{
    if (items.empty()) {
        return value_error(empty);
    }
    std::uint64_t divisor = 0;
    Divisor test{1};
    items.each([&] [[gnu::always_inline]] (T item) {
        const std::uint64_t m = magnitude(view(item));
        if (divisor != 0 && test.divides(m)) {
            return true;
        }
        divisor = euclid(divisor, m);
        if (divisor != 0) {
            test = Divisor{divisor};
        }
        return divisor != 1;  // gcd(1, n) is 1 for every n
    });
    return divisor;
}

}  // namespace

Outcome<std::uint64_t> gcd_with_int(IntegerItems items) noexcept
{
    return gcd_fold(items, [](std::int64_t value) { return value; }, gcd_with_int_of_nothing);
}

Outcome<std::uint64_t> gcd_with_float(NumberItems items) noexcept
{
    return gcd_fold(items, integer_view, gcd_with_float_of_nothing);
}

double lcm_with(NumberItems items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    double multiple = std::fabs(items.front());
    bool folded = true;
    items.rest().each([&] [[gnu::always_inline]] (double item) {
        double b = std::fabs(item);
        std::uint64_t divisor =
            euclid(magnitude(integer_view(multiple)), magnitude(integer_view(b)));
        folded = divisor != 0;
        if (folded) {
            multiple = (multiple * b) / static_cast<double>(divisor);
        }
        return folded;
    });
    return folded ? multiple : 0.0;
}

}  // namespace tesmar::ops::gcd_lcm
