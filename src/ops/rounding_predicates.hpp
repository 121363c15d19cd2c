// Rounding, sign and predicates. The module's floor and ceil saturate to
// 64-bit ints; the methods keep the rounded double.
#pragma once

#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::rounding_predicates {

std::int64_t floor(double x) noexcept;
std::int64_t ceil(double x) noexcept;
double floor_stored(double stored) noexcept;
double ceil_stored(double stored) noexcept;
// Zeros and NaN have the sign 0.
std::int32_t sign(double x) noexcept;
double sign_stored(double stored) noexcept;
bool is_positive(double x) noexcept;
bool is_negative(double x) noexcept;
bool is_integer(double x) noexcept;
// The module's parity is the lowest bit of the two's-complement form.
bool is_even(std::int64_t n) noexcept;
bool is_odd(std::int64_t n) noexcept;
// The methods test the stored double: everything that is not an even whole
// number (NaN and infinities included) is odd.
bool is_even_stored(double stored) noexcept;
bool is_odd_stored(double stored) noexcept;

inline constexpr std::tuple callables{
    Callable{"floor",
             {function_only("number")},
             Function{&floor},
             Method{&floor_stored, Takes::stored_number}},
    Callable{"ceil",
             {function_only("number")},
             Function{&ceil},
             Method{&ceil_stored, Takes::stored_number}},
    Callable{"is_positive",
             {function_only("number")},
             Function{&is_positive},
             Method{&is_positive, Takes::stored_number, WriteBack::none}},
    Callable{"is_negative",
             {function_only("number")},
             Function{&is_negative},
             Method{&is_negative, Takes::stored_number, WriteBack::none}},
    Callable{"is_integer", {"number"}, Function{&is_integer}, no_method},
    Callable{"sign",
             {function_only("number")},
             Function{&sign},
             Method{&sign_stored, Takes::stored_number}},
    Callable{"is_even",
             {function_only("number")},
             Function{&is_even},
             Method{&is_even_stored, Takes::stored_number, WriteBack::none}},
    Callable{"is_odd",
             {function_only("number")},
             Function{&is_odd},
             Method{&is_odd_stored, Takes::stored_number, WriteBack::none}},
};

}  // namespace tesmar::ops::rounding_predicates
