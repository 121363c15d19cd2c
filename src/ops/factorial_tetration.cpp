// Factorial (64-bit on the module, 128-bit on the method) and tetration.
#include "binding/frame.hpp"
#include "number_class/method.hpp"
#include "ops/ops.hpp"

#include <cmath>
#include <limits>

namespace tesmar::ops {
namespace {

constexpr const char *negative_factorial = "The factorial of a negative number is not defined.";

// n! with every multiplication checked; at most a few dozen steps, since
// the product overflows long before the counter could.
template <class Int>
Outcome<Int> checked_factorial(Int n, const char *overflow) noexcept
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

Outcome<std::int64_t> factorial(std::int64_t n) noexcept
{
    return checked_factorial<std::int64_t>(n, "Factorial overflow");
}

// The saturating conversion to 128 bits.
int128 saturate_to_i128(double x) noexcept
{
    constexpr int128 max = static_cast<int128>((static_cast<uint128>(1) << 127) - 1);
    if (x != x) {
        return 0;
    }
    if (x > 1.7014118346046921e38) {
        return max;
    }
    if (x < -1.7014118346046923e38) {
        return -max - 1;
    }
    return static_cast<int128>(x);
}

Outcome<double> factorial_of_stored(double stored) noexcept
{
    auto product = checked_factorial<int128>(saturate_to_i128(stored), "Factorial overflow.");
    if (!product) {
        return std::unexpected(product.error());
    }
    return static_cast<double>(*product);
}

Outcome<double> tetration(double base, std::int64_t height) noexcept
{
    if (height == 0) {
        return 1.0;
    }
    if (height == 1) {
        return base;
    }
    if (height < 0) {
        return value_error("Height can't be negative");
    }
    double tower = base;
    for (std::int64_t step = 2; step <= height; ++step) {
        tower = std::pow(base, tower);
        if (std::isinf(tower)) {
            return value_error("The result is too big (infinity)");
        }
    }
    return tower;
}

constexpr Params factorial_params{"factorial(number)\n--\n\n"};
constexpr Params tetration_params{"tetration(base, height)\n--\n\n"};
constexpr Params factorial_method_params{"factorial($self)\n--\n\n", Owner::number_class};
constexpr Params tetration_method_params{"tetration($self, height)\n--\n\n", Owner::number_class};

}  // namespace

PyMethodDef factorial_function = function_def<&factorial, factorial_params>();
PyMethodDef tetration_function = function_def<&tetration, tetration_params>();

PyMethodDef factorial_method =
    method_def<&factorial_of_stored, factorial_method_params, Writes::result_instance>();
PyMethodDef tetration_method =
    method_def<&tetration, tetration_method_params, Writes::result_instance>();

}  // namespace tesmar::ops
