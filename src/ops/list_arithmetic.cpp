#include "ops/list_arithmetic.hpp"

#include <cstdint>

namespace tesmar::ops::list_arithmetic {
namespace {

// Messages callers match on: they never change, not even where the two
// surfaces word one error differently.
constexpr const char *division_by_zero = "Division by zero!";
constexpr const char *cannot_divide_by_zero = "Can't divide by zero!";

// Lambdas, not functions: each has a type of its own, so every fold inlines
// its step.
constexpr auto plus = [](double acc, double item) noexcept { return acc + item; };
constexpr auto minus = [](double acc, double item) noexcept { return acc - item; };
constexpr auto times = [](double acc, double item) noexcept { return acc * item; };

// Divides `acc` by every item in turn; -0.0 is a zero divisor, NaN is not.
// An integer quotient folds in 128 bits: -2**63 divided by -1 is an
// ordinary answer, and no quotient of 64-bit operands leaves
// [-2**63, 2**63].
template <class Acc, class T>
Outcome<Acc> divide_by_each(Acc acc, Items<T> divisors, const char *message) noexcept
{
    bool divided = true;
    divisors.each([&] [[gnu::always_inline]] (T divisor) {
        divided = divisor != T{0};
        if (divided) {
            acc = acc / divisor;
        }
        return divided;
    });
    if (!divided) {
        return zero_division(message);
    }
    return acc;
}

// Folds `step` over the items after the first, starting from the first.
template <class Step>
double fold_from_first(NumberItems items, Step step) noexcept
{
    return items.rest().fold(items.front(), step);
}

}  // namespace

double sum_of(NumberItems items) noexcept { return items.fold(-0.0, plus); }

double dif_of(NumberItems items) noexcept
{
    return items.empty() ? 0.0 : fold_from_first(items, minus);
}

Outcome<double> div_of(NumberItems items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    return divide_by_each(items.front(), items.rest(), division_by_zero);
}

Outcome<int128> int_div_of(IntegerItems items) noexcept
{
    if (items.empty()) {
        return 0;
    }
    return divide_by_each(int128{items.front()}, items.rest(), division_by_zero);
}

double mult_of(NumberItems items) noexcept
{
    return items.empty() ? 1.0 : fold_from_first(items, times);
}

double sum_of_stored(double stored, NumberItems items) noexcept { return sum_of(items) + stored; }

double dif_of_stored(double stored, NumberItems items) noexcept
{
    return items.empty() ? stored : stored - dif_of(items);
}

Outcome<double> div_of_stored(double stored, NumberItems items) noexcept
{
    return divide_by_each(stored, items, cannot_divide_by_zero);
}

Outcome<double> int_div_of_stored(double stored, IntegerItems items) noexcept
{
    if (items.empty()) {
        return stored;
    }
    const Outcome<int128> quotient =
        divide_by_each(int128{saturate_to<std::int64_t>(stored)}, items, cannot_divide_by_zero);
    if (!quotient) {
        return std::unexpected(quotient.error());
    }
    return static_cast<double>(*quotient);
}

double mult_of_stored(double stored, NumberItems items) noexcept
{
    return items.fold(stored, times);
}

}  // namespace tesmar::ops::list_arithmetic
