#include "ops/list_arithmetic.hpp"

#include <cstdint>

namespace tesmar::ops::list_arithmetic {
namespace {

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
    auto walked = divisors.each([&](T divisor) {
        divided = divisor != T{0};
        if (divided) {
            acc = acc / divisor;
        }
        return divided;
    });
    if (!walked) {
        return std::unexpected(walked.error());
    }
    if (!divided) {
        return zero_division(message);
    }
    return acc;
}

// Folds `step` over the items after the first, starting from the first.
template <class Step>
Outcome<double> fold_from_first(NumberItems items, Step step) noexcept
{
    const Outcome<double> first = items.front();
    if (!first) {
        return first;
    }
    return items.rest().fold(*first, step);
}

}  // namespace

Outcome<double> sum_of(NumberItems items) noexcept { return items.fold(-0.0, plus); }

Outcome<double> dif_of(NumberItems items) noexcept
{
    return items.empty() ? 0.0 : fold_from_first(items, minus);
}

Outcome<double> div_of(NumberItems items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    const Outcome<double> first = items.front();
    if (!first) {
        return first;
    }
    return divide_by_each(*first, items.rest(), "Division by zero!");
}

Outcome<int128> int_div_of(IntegerItems items) noexcept
{
    if (items.empty()) {
        return 0;
    }
    const Outcome<std::int64_t> first = items.front();
    if (!first) {
        return std::unexpected(first.error());
    }
    return divide_by_each(int128{*first}, items.rest(), "Division by zero!");
}

Outcome<double> mult_of(NumberItems items) noexcept
{
    return items.empty() ? 1.0 : fold_from_first(items, times);
}

Outcome<double> sum_of_stored(double stored, NumberItems items) noexcept
{
    const Outcome<double> sum = sum_of(items);
    if (!sum) {
        return sum;
    }
    return *sum + stored;
}

Outcome<double> dif_of_stored(double stored, NumberItems items) noexcept
{
    if (items.empty()) {
        return stored;
    }
    const Outcome<double> difference = dif_of(items);
    if (!difference) {
        return difference;
    }
    return stored - *difference;
}

Outcome<double> div_of_stored(double stored, NumberItems items) noexcept
{
    return divide_by_each(stored, items, "Can't divide by zero!");
}

Outcome<double> int_div_of_stored(double stored, IntegerItems items) noexcept
{
    if (items.empty()) {
        return stored;
    }
    const Outcome<int128> quotient =
        divide_by_each(int128{saturate_to<std::int64_t>(stored)}, items, "Can't divide by zero!");
    if (!quotient) {
        return std::unexpected(quotient.error());
    }
    return static_cast<double>(*quotient);
}

Outcome<double> mult_of_stored(double stored, NumberItems items) noexcept
{
    return items.fold(stored, times);
}

}  // namespace tesmar::ops::list_arithmetic
