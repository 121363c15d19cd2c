// Folding a list with one arithmetic operator. The module functions fold the
// list alone; the methods fold it into the stored number, each in its own
// order. One rounded double operation at a time, strictly left to right.
#include "binding/items.hpp"
#include "binding/numeric.hpp"
#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::list_arithmetic {
namespace {

using Numbers = NumberItems;
using Integers = IntegerItems;

double sum(Numbers items) noexcept
{
    double acc = -0.0;
    items.each([&](double item) { acc = acc + item; });
    return acc;
}

double difference(Numbers items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    double acc = items.front();
    items.rest().each([&](double item) { acc = acc - item; });
    return acc;
}

// Divides `acc` by every item in turn; -0.0 is a zero divisor, NaN is not.
Outcome<double> divide_by_each(double acc, Numbers divisors, const char *message) noexcept
{
    const bool divided = divisors.each([&](double divisor) {
        if (divisor == 0.0) {
            return false;
        }
        acc = acc / divisor;
        return true;
    });
    if (!divided) {
        return zero_division(message);
    }
    return acc;
}

// The quotient folds in 128 bits: -2**63 divided by -1 is an ordinary
// answer, and no quotient of 64-bit operands leaves [-2**63, 2**63].
Outcome<int128> int_divide_by_each(int128 acc, Integers divisors, const char *message) noexcept
{
    const bool divided = divisors.each([&](std::int64_t divisor) {
        if (divisor == 0) {
            return false;
        }
        acc = acc / divisor;
        return true;
    });
    if (!divided) {
        return zero_division(message);
    }
    return acc;
}

// Multiplies `acc` by every item in turn.
double product_into(double acc, Numbers items) noexcept
{
    items.each([&](double item) { acc = acc * item; });
    return acc;
}

double product(Numbers items) noexcept
{
    return items.empty() ? 1.0 : product_into(items.front(), items.rest());
}

Outcome<double> quotient(Numbers items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    return divide_by_each(items.front(), items.rest(), "Division by zero!");
}

Outcome<int128> int_quotient(Integers items) noexcept
{
    if (items.empty()) {
        return 0;
    }
    return int_divide_by_each(items.front(), items.rest(), "Division by zero!");
}

// The methods: the items are summed first and the stored number added last;
// the difference of the items is taken from the stored number.
double sum_into(double stored, Numbers items) noexcept { return sum(items) + stored; }

double difference_into(double stored, Numbers items) noexcept
{
    return items.empty() ? stored : stored - difference(items);
}

Outcome<double> quotient_into(double stored, Numbers items) noexcept
{
    return divide_by_each(stored, items, "Can't divide by zero!");
}

Outcome<double> int_quotient_into(double stored, Integers items) noexcept
{
    if (items.empty()) {
        return stored;
    }
    auto quotient =
        int_divide_by_each(saturate_to<std::int64_t>(stored), items, "Can't divide by zero!");
    if (!quotient) {
        return std::unexpected(quotient.error());
    }
    return static_cast<double>(*quotient);
}

}  // namespace

constexpr std::tuple callables{
    Callable{"sum_of", {"args"}, Function{&sum}, Method{&sum_into}},
    Callable{"dif_of", {"args"}, Function{&difference}, Method{&difference_into}},
    Callable{"div_of", {"args"}, Function{&quotient}, Method{&quotient_into}},
    Callable{"int_div_of", {"args"}, Function{&int_quotient}, Method{&int_quotient_into}},
    Callable{"mult_of", {"args"}, Function{&product}, Method{&product_into}},
};

}  // namespace tesmar::ops::list_arithmetic
