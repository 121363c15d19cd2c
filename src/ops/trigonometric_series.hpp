// Cosine, sine and tangent as truncated power series after reducing the
// argument to one period around zero. Each operation is rounded on its own;
// the build forbids fused multiply-add.
#pragma once

#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::trigonometric_series {

// The module functions: no terms at all is the empty sum.
double cos(double x, std::uint64_t terms) noexcept;
double sin(double x, std::uint64_t terms) noexcept;
Outcome<double> tan(double x, std::uint64_t terms) noexcept;
// The methods: zero terms still sum the first one. A failed tangent leaves
// the stored number as it was.
double cos_stored(double stored, std::uint64_t terms) noexcept;
double sin_stored(double stored, std::uint64_t terms) noexcept;
Outcome<double> tan_stored(double stored, std::uint64_t terms) noexcept;

// The number of terms when the caller leaves it out.
inline constexpr Parameter terms_parameter{"terms", 20};

inline constexpr std::tuple callables{
    Callable{"cos",
             {function_only("number"), terms_parameter},
             Function{&cos},
             Method{&cos_stored, Takes::stored_number, WriteBack::store_return_value}},
    Callable{"sin",
             {function_only("number"), terms_parameter},
             Function{&sin},
             Method{&sin_stored, Takes::stored_number, WriteBack::store_return_value}},
    Callable{"tan",
             {function_only("number"), terms_parameter},
             Function{&tan},
             Method{&tan_stored, Takes::stored_number, WriteBack::store_return_value}},
};

}  // namespace tesmar::ops::trigonometric_series
