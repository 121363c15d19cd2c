// Rounding, sign and predicates. The module's floor and ceil saturate to
// 64-bit ints; the methods keep the rounded double.
#include "binding/numeric.hpp"
#include "number_class/callable.hpp"

#include <cmath>
#include <cstdint>

namespace tesmar::ops::rounding_predicates {
namespace {

std::int64_t floor_to_int(double x) noexcept { return saturate_to<std::int64_t>(std::floor(x)); }
std::int64_t ceil_to_int(double x) noexcept { return saturate_to<std::int64_t>(std::ceil(x)); }
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

}  // namespace

constexpr std::tuple callables{
    Callable{"floor", {stored("number")}, Function{&floor_to_int}, Method{&floor_of}},
    Callable{"ceil", {stored("number")}, Function{&ceil_to_int}, Method{&ceil_of}},
    Callable{"is_positive",
             {stored("number")},
             Function{&is_positive},
             Method{&is_positive, WriteBack::none}},
    Callable{"is_negative",
             {stored("number")},
             Function{&is_negative},
             Method{&is_negative, WriteBack::none}},
    Callable{"is_integer", {"number"}, Function{&is_integer}, no_method},
    Callable{"sign", {stored("number")}, Function{&sign}, Method{&sign_of}},
    Callable{"is_even",
             {stored("number")},
             Function{&is_even},
             Method{&is_even_number, WriteBack::none}},
    Callable{
        "is_odd", {stored("number")}, Function{&is_odd}, Method{&is_odd_number, WriteBack::none}},
};

}  // namespace tesmar::ops::rounding_predicates
