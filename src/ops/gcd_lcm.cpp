// Greatest common divisor of integers and of rounded doubles, and a least
// common multiple folded in floating point. Euclid runs on unsigned 64-bit
// magnitudes, so -2**63 has its true magnitude and no gcd is negative.
#include "binding/frame.hpp"
#include "number_class/method.hpp"
#include "ops/ops.hpp"

#include <cmath>
#include <span>

namespace tesmar::ops {
namespace {

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

// The integer view of a double: halves away from zero, then saturated.
std::int64_t integer_view(double x) noexcept { return saturate_to_i64(std::round(x)); }

template <class T, class View>
Outcome<std::uint64_t> gcd_fold(std::span<const T> items, View view, const char *empty) noexcept
{
    if (items.empty()) {
        return value_error(empty);
    }
    std::uint64_t divisor = 0;
    for (const T &item : items) {
        divisor = euclid(divisor, magnitude(view(item)));
        if (divisor == 1) {
            break;  // gcd(1, n) is 1 for every n
        }
    }
    return divisor;
}

Outcome<std::uint64_t> gcd_of_ints(std::span<const std::int64_t> items) noexcept
{
    return gcd_fold(
        items, [](std::int64_t value) { return value; },
        "gcd_with_int() requires at least one argument");
}

Outcome<std::uint64_t> gcd_of_floats(std::span<const double> items) noexcept
{
    return gcd_fold(items, integer_view, "gcd_with_float() requires at least one argument");
}

double lcm(std::span<const double> items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    double multiple = std::fabs(items.front());
    for (double item : items.subspan(1)) {
        double b = std::fabs(item);
        std::uint64_t divisor =
            euclid(magnitude(integer_view(multiple)), magnitude(integer_view(b)));
        if (divisor == 0) {
            return 0.0;
        }
        multiple = (multiple * b) / static_cast<double>(divisor);
    }
    return multiple;
}

// The methods compute from the list alone and replace the stored number.
Outcome<double> gcd_of_ints_into(double /*stored*/, std::span<const std::int64_t> items) noexcept
{
    auto divisor = gcd_of_ints(items);
    if (!divisor) {
        return std::unexpected(divisor.error());
    }
    return static_cast<double>(*divisor);
}

Outcome<std::uint64_t> gcd_of_floats_into(double /*stored*/, std::span<const double> items) noexcept
{
    return gcd_of_floats(items);
}

double lcm_into(double /*stored*/, std::span<const double> items) noexcept { return lcm(items); }

constexpr Params gcd_with_int_params{"gcd_with_int(args)\n--\n\n"};
constexpr Params gcd_with_float_params{"gcd_with_float(args)\n--\n\n"};
constexpr Params lcm_with_params{"lcm_with(args)\n--\n\n"};
constexpr Params gcd_with_int_method_params{"gcd_with_int($self, args)\n--\n\n",
                                            Owner::number_class};
constexpr Params gcd_with_float_method_params{"gcd_with_float($self, args)\n--\n\n",
                                              Owner::number_class};
constexpr Params lcm_with_method_params{"lcm_with($self, args)\n--\n\n", Owner::number_class};

}  // namespace

PyMethodDef gcd_with_int_function = function_def<&gcd_of_ints, gcd_with_int_params>();
PyMethodDef gcd_with_float_function = function_def<&gcd_of_floats, gcd_with_float_params>();
PyMethodDef lcm_with_function = function_def<&lcm, lcm_with_params>();

PyMethodDef gcd_with_int_method =
    method_def<&gcd_of_ints_into, gcd_with_int_method_params, Writes::result_instance>();
// Stores float(g) and returns the exact int g.
PyMethodDef gcd_with_float_method =
    method_def<&gcd_of_floats_into, gcd_with_float_method_params, Writes::value>();
PyMethodDef lcm_with_method =
    method_def<&lcm_into, lcm_with_method_params, Writes::result_instance>();

}  // namespace tesmar::ops
