// Powers and roots of one double.
#pragma once

#include "number_class/callable.hpp"

namespace tesmar::ops::powers_roots {

double square(double x) noexcept;
double cube(double x) noexcept;                       // (x * x) * x
double power(double base, double exponent) noexcept;  // the C library's pow
double power_of_2(double x) noexcept;                 // exp2
Outcome<double> square_root(double x) noexcept;
// The real cube root, correctly rounded.
double cube_root(double x) noexcept;

inline constexpr std::tuple callables{
    Callable{"square",
             {function_only("number")},
             Function{&square},
             Method{&square, Takes::stored_number}},
    Callable{
        "cube", {function_only("number")}, Function{&cube}, Method{&cube, Takes::stored_number}},
    Callable{"power",
             {function_only("number"), "exponent"},
             Function{&power},
             Method{&power, Takes::stored_number}},
    Callable{"power_of_2", {}, no_function, Method{&power_of_2, Takes::stored_number}},
    Callable{"square_root",
             {function_only("number")},
             Function{&square_root},
             Method{&square_root, Takes::stored_number}},
    Callable{"cube_root",
             {function_only("number")},
             Function{&cube_root},
             Method{&cube_root, Takes::stored_number}},
};

}  // namespace tesmar::ops::powers_roots
