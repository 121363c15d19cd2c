// The method definitions that each operation family exposes: a module
// function and an instance method per operation. The module body and the
// class's method table list them in their published order.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tesmar::ops {

// List arithmetic.
extern PyMethodDef sum_of_function, dif_of_function, div_of_function, int_div_of_function,
    mult_of_function;
extern PyMethodDef sum_of_method, dif_of_method, div_of_method, int_div_of_method, mult_of_method;

// Powers and roots (power_of_2 is a method only).
extern PyMethodDef square_function, cube_function, power_function, square_root_function,
    cube_root_function;
extern PyMethodDef square_method, cube_method, power_method, power_of_2_method, square_root_method,
    cube_root_method;

// Factorial and tetration.
extern PyMethodDef factorial_function, tetration_function;
extern PyMethodDef factorial_method, tetration_method;

// Greatest common divisor and least common multiple.
extern PyMethodDef gcd_with_int_function, gcd_with_float_function, lcm_with_function;
extern PyMethodDef gcd_with_int_method, gcd_with_float_method, lcm_with_method;

// Rounding, sign and predicates (is_integer is a module function only).
extern PyMethodDef floor_function, ceil_function, is_positive_function, is_negative_function,
    is_integer_function, sign_function, is_even_function, is_odd_function;
extern PyMethodDef floor_method, ceil_method, sign_method, is_positive_method, is_negative_method,
    is_even_method, is_odd_method;

// Trigonometric series.
extern PyMethodDef cos_function, sin_function, tan_function;
extern PyMethodDef cos_method, sin_method, tan_method;

}  // namespace tesmar::ops
