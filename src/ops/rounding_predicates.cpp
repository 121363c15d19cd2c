// Rounding, sign and predicates. The module's floor and ceil saturate to
// 64-bit ints; the methods keep the rounded double.
#include "binding/frame.hpp"
#include "number_class/method.hpp"
#include "ops/ops.hpp"

#include <cmath>

namespace tesmar::ops {
namespace {

std::int64_t floor_to_int(double x) noexcept { return saturate_to_i64(std::floor(x)); }
std::int64_t ceil_to_int(double x) noexcept { return saturate_to_i64(std::ceil(x)); }
double floor_of(double x) noexcept { return std::floor(x); }
double ceil_of(double x) noexcept { return std::ceil(x); }

// Zeros and NaN have the sign 0.
std::int32_t sign(double x) noexcept { return x > 0.0 ? 1 : (x < 0.0 ? -1 : 0); }
double sign_of(double x) noexcept { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }

bool is_positive(double x) noexcept { return x > 0.0; }
bool is_negative(double x) noexcept { return 0.0 > x; }
bool is_integer(double x) noexcept { return x - std::trunc(x) == 0.0; }

// The module's parity is the lowest bit of the two's-complement form.
bool is_even(std::int64_t n) noexcept { return (static_cast<std::uint64_t>(n) & 1U) == 0; }
bool is_odd(std::int64_t n) noexcept { return !is_even(n); }

// The methods test the stored double: everything that is not an even whole
// number (NaN and infinities included) is odd.
bool is_even_number(double x) noexcept { return std::fmod(x, 2.0) == 0.0; }
bool is_odd_number(double x) noexcept { return !is_even_number(x); }

constexpr Params floor_params{"floor(number)\n--\n\n"};
constexpr Params ceil_params{"ceil(number)\n--\n\n"};
constexpr Params is_positive_params{"is_positive(number)\n--\n\n"};
constexpr Params is_negative_params{"is_negative(number)\n--\n\n"};
constexpr Params is_integer_params{"is_integer(number)\n--\n\n"};
constexpr Params sign_params{"sign(number)\n--\n\n"};
constexpr Params is_even_params{"is_even(number)\n--\n\n"};
constexpr Params is_odd_params{"is_odd(number)\n--\n\n"};
constexpr Params floor_method_params{"floor($self)\n--\n\n", Owner::number_class};
constexpr Params ceil_method_params{"ceil($self)\n--\n\n", Owner::number_class};
constexpr Params sign_method_params{"sign($self)\n--\n\n", Owner::number_class};
constexpr Params is_positive_method_params{"is_positive($self)\n--\n\n", Owner::number_class};
constexpr Params is_negative_method_params{"is_negative($self)\n--\n\n", Owner::number_class};
constexpr Params is_even_method_params{"is_even($self)\n--\n\n", Owner::number_class};
constexpr Params is_odd_method_params{"is_odd($self)\n--\n\n", Owner::number_class};

constexpr auto stores = Writes::result_instance;
constexpr auto reads = Writes::nothing;

}  // namespace

PyMethodDef floor_function = function_def<&floor_to_int, floor_params>();
PyMethodDef ceil_function = function_def<&ceil_to_int, ceil_params>();
PyMethodDef is_positive_function = function_def<&is_positive, is_positive_params>();
PyMethodDef is_negative_function = function_def<&is_negative, is_negative_params>();
PyMethodDef is_integer_function = function_def<&is_integer, is_integer_params>();
PyMethodDef sign_function = function_def<&sign, sign_params>();
PyMethodDef is_even_function = function_def<&is_even, is_even_params>();
PyMethodDef is_odd_function = function_def<&is_odd, is_odd_params>();

PyMethodDef floor_method = method_def<&floor_of, floor_method_params, stores>();
PyMethodDef ceil_method = method_def<&ceil_of, ceil_method_params, stores>();
PyMethodDef sign_method = method_def<&sign_of, sign_method_params, stores>();
PyMethodDef is_positive_method = method_def<&is_positive, is_positive_method_params, reads>();
PyMethodDef is_negative_method = method_def<&is_negative, is_negative_method_params, reads>();
PyMethodDef is_even_method = method_def<&is_even_number, is_even_method_params, reads>();
PyMethodDef is_odd_method = method_def<&is_odd_number, is_odd_method_params, reads>();

}  // namespace tesmar::ops
