#include "ops/list_arithmetic.hpp"

namespace tesmar::ops::list_arithmetic {
namespace {

// Messages callers match on: they never change, not even where the two
// surfaces word one error differently.
constexpr const char *division_by_zero = "Division by zero!";
constexpr const char *cannot_divide_by_zero = "Can't divide by zero!";

}  // namespace

Sum sum_of() noexcept { return {}; }

Difference dif_of() noexcept { return {}; }

Quotient<double, double> div_of() noexcept
{
    return {.quotient = 0.0, .from_first = true, .zero_divisor = division_by_zero};
}

Quotient<int128, std::int64_t> int_div_of() noexcept
{
    return {.quotient = 0, .from_first = true, .zero_divisor = division_by_zero};
}

Product mult_of() noexcept { return {}; }

Sum sum_of_stored(double stored) noexcept { return {.stored = stored}; }

DifferenceFromStored dif_of_stored(double stored) noexcept
{
    return {.items = {}, .stored = stored};
}

Quotient<double, double> div_of_stored(double stored) noexcept
{
    return {.quotient = stored, .from_first = false, .zero_divisor = cannot_divide_by_zero};
}

IntegerQuotientOfStored int_div_of_stored(double stored) noexcept
{
    return {.items = {.quotient = saturate_to<std::int64_t>(stored),
                      .from_first = false,
                      .zero_divisor = cannot_divide_by_zero},
            .stored = stored};
}

Product mult_of_stored(double stored) noexcept { return {.product = stored, .from_first = false}; }

}  // namespace tesmar::ops::list_arithmetic
