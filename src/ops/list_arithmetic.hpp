// Folding a list with one arithmetic operator. The module functions fold the
// list alone; the methods fold it into the stored number, each in its own
// order. One rounded double operation at a time, strictly left to right.
#pragma once

#include "binding/items.hpp"
#include "binding/numeric.hpp"
#include "number_class/callable.hpp"

namespace tesmar::ops::list_arithmetic {

double sum_of(NumberItems items) noexcept;
double dif_of(NumberItems items) noexcept;
Outcome<double> div_of(NumberItems items) noexcept;
Outcome<int128> int_div_of(IntegerItems items) noexcept;
double mult_of(NumberItems items) noexcept;

// The items are summed first and the stored number added last.
double sum_of_stored(double stored, NumberItems items) noexcept;
// The difference of the items is taken from the stored number.
double dif_of_stored(double stored, NumberItems items) noexcept;
Outcome<double> div_of_stored(double stored, NumberItems items) noexcept;
// The stored number truncated (saturating), then divided by every item.
Outcome<double> int_div_of_stored(double stored, IntegerItems items) noexcept;
double mult_of_stored(double stored, NumberItems items) noexcept;

inline constexpr std::tuple callables{
    Callable{"sum_of", {"args"}, Function{&sum_of}, Method{&sum_of_stored, Takes::stored_number}},
    Callable{"dif_of", {"args"}, Function{&dif_of}, Method{&dif_of_stored, Takes::stored_number}},
    Callable{"div_of", {"args"}, Function{&div_of}, Method{&div_of_stored, Takes::stored_number}},
    Callable{"int_div_of",
             {"args"},
             Function{&int_div_of},
             Method{&int_div_of_stored, Takes::stored_number}},
    Callable{
        "mult_of", {"args"}, Function{&mult_of}, Method{&mult_of_stored, Takes::stored_number}},
};

}  // namespace tesmar::ops::list_arithmetic
