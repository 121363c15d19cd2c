#include "ops/powers_roots.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace tesmar::ops::powers_roots {
namespace {

// Unsigned integer of six 32-bit limbs, least significant first: enough for
// the cube of a 54-bit midpoint significand (at most 162 bits).
using Wide = std::array<std::uint32_t, 6>;

Wide wide(std::uint64_t v) noexcept
{
    return {static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32U), 0, 0, 0, 0};
}

// Callers keep the true product below 2**192.
Wide multiply(const Wide &a, const Wide &b) noexcept
{
    Wide r{};
    for (std::size_t i = 0; i < r.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; i + j < r.size(); ++j) {
            std::uint64_t t = std::uint64_t{a[i]} * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32U;
        }
    }
    return r;
}

int bit_length(const Wide &a) noexcept
{
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != 0) {
            return static_cast<int>(32 * i) + static_cast<int>(std::bit_width(a[i]));
        }
    }
    return 0;
}

// Callers keep the result below 2**192.
Wide shifted_left(const Wide &a, int bits) noexcept
{
    Wide r{};
    const auto limbs = static_cast<std::size_t>(bits / 32);
    const auto rest = static_cast<unsigned>(bits % 32);
    for (std::size_t i = a.size(); i-- > limbs;) {
        std::uint64_t t = std::uint64_t{a[i - limbs]} << rest;
        if (rest != 0 && i - limbs > 0) {
            t |= a[i - limbs - 1] >> (32 - rest);
        }
        r[i] = static_cast<std::uint32_t>(t);
    }
    return r;
}

int compare(const Wide &a, const Wide &b) noexcept
{
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

// A positive finite double as significand * 2**exponent, significand < 2**53.
struct Parts {
    std::uint64_t significand;
    int exponent;
};

Parts parts(double a) noexcept
{
    int e = 0;
    const double f = std::frexp(a, &e);  // exact, subnormals included
    return {static_cast<std::uint64_t>(std::ldexp(f, 53)), e - 53};
}

// Sign of a - m**3, where m is the midpoint between the normal double y and
// the next double up: m = (2Y + 1) * 2**(k - 1) for y = Y * 2**k.
int against_midpoint_cube(Parts a, double y) noexcept
{
    const Parts p = parts(y);
    const Wide odd = wide(2 * p.significand + 1);
    const Wide cubed = multiply(multiply(odd, odd), odd);
    // a - m**3 has the sign of significand(a) * 2**shift - (2Y + 1)**3.
    const int shift = a.exponent - 3 * (p.exponent - 1);
    const int a_length = static_cast<int>(std::bit_width(a.significand)) + shift;
    const int cube_length = bit_length(cubed);
    if (a_length != cube_length) {
        return a_length < cube_length ? -1 : 1;
    }
    return shift >= 0 ? compare(shifted_left(wide(a.significand), shift), cubed)
                      : compare(wide(a.significand), shifted_left(cubed, -shift));
}

}  // namespace

double square(double x) noexcept { return x * x; }

double cube(double x) noexcept { return (x * x) * x; }

double power(double base, double exponent) noexcept { return std::pow(base, exponent); }

double power_of_2(double x) noexcept { return std::exp2(x); }

Outcome<double> square_root(double x) noexcept
{
    if (0.0 > x) {
        return value_error("Cannot calculate square root of a negative number");
    }
    return std::sqrt(x);
}

// The real cube root, correctly rounded: cbrt is only faithful, so its
// answer is moved to whichever neighbour the exact midpoint test picks. No
// midpoint is ever an exact cube root (its cube needs over 53 bits), so
// there are no ties, and every root of a double is a normal double.
double cube_root(double x) noexcept
{
    if (x == 0.0 || !std::isfinite(x)) {
        return x;
    }
    const Parts a = parts(std::fabs(x));
    double y = std::cbrt(std::fabs(x));
    if (!(y >= 0x1p-359 && y <= 0x1p342)) {  // a broken cbrt; keeps parts() defined
        y = std::ldexp(1.0, (a.exponent + 52) / 3);
    }
    for (;;) {
        if (against_midpoint_cube(a, y) > 0) {
            y = std::nextafter(y, HUGE_VAL);
            continue;
        }
        const double below = std::nextafter(y, 0.0);
        if (against_midpoint_cube(a, below) < 0) {
            y = below;
            continue;
        }
        break;
    }
    return std::copysign(y, x);
}

}  // namespace tesmar::ops::powers_roots
