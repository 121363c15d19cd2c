// Folding a list with one arithmetic operator. The module functions fold the
// list alone; the methods fold it into the stored number, each in its own
// order. One rounded double operation at a time, strictly left to right.
// Each computation is a fold that the binding drives over the items (see
// binding/fold.hpp); the steps are defined here, inline, so that they
// inline into the binding's walk.
#pragma once

#include "binding/numeric.hpp"
#include "binding/outcome.hpp"
#include "number_class/callable.hpp"

#include <cstdint>

namespace tesmar::ops::list_arithmetic {

// Adds every item to -0.0 (so a list of negative zeros sums to -0.0), then
// `stored` (-0.0, which adds nothing, for the items alone).
struct Sum {
    using Item = double;
    double stored = -0.0;
    double sum = -0.0;
    void step(double item) noexcept { sum += item; }
    [[nodiscard]] double finish() const noexcept { return sum + stored; }
};

// The first item less every later one; 0.0 without items.
struct Difference {
    using Item = double;
    double difference = 0.0;
    bool seen = false;
    void first(double item) noexcept
    {
        difference = item;
        seen = true;
    }
    void step(double item) noexcept { difference -= item; }
    [[nodiscard]] double finish() const noexcept { return difference; }
};

// The stored number less the difference of the items, or the stored number
// without items.
struct DifferenceFromStored {
    using Item = double;
    Difference items;
    double stored;
    void first(double item) noexcept { items.first(item); }
    void step(double item) noexcept { items.step(item); }
    [[nodiscard]] double finish() const noexcept
    {
        return items.seen ? stored - items.difference : stored;
    }
};

// The first item (or `start`) times every later one; 1.0 without items.
struct Product {
    using Item = double;
    double product = 1.0;
    bool from_first = true;
    void first(double item) noexcept { product = from_first ? item : product * item; }
    void step(double item) noexcept { product *= item; }
    [[nodiscard]] double finish() const noexcept { return product; }
};

// Divides `quotient` by every item in turn, starting from the first item
// unless a start is given; -0.0 is a zero divisor, NaN is not. An integer
// quotient folds in 128 bits: -2**63 divided by -1 is an ordinary answer,
// and no quotient of 64-bit operands leaves [-2**63, 2**63].
template <class Acc, class T>
struct Quotient {
    using Item = T;
    Acc quotient;
    bool from_first;
    const char *zero_divisor;  // the message for a zero divisor
    bool divided = true;

    bool first(T item) noexcept
    {
        if (from_first) {
            quotient = Acc{item};
            return true;
        }
        return step(item);
    }
    bool step(T divisor) noexcept
    {
        divided = divisor != T{0};
        if (divided) {
            quotient = quotient / divisor;
        }
        return divided;
    }
    [[nodiscard]] Outcome<Acc> finish() const noexcept
    {
        if (!divided) {
            return zero_division(zero_divisor);
        }
        return quotient;
    }
};

// The integer quotient of the stored number, truncated (saturating), by
// every item, as a double; the stored number itself without items.
struct IntegerQuotientOfStored {
    using Item = std::int64_t;
    Quotient<int128, std::int64_t> items;
    double stored;
    bool seen = false;
    bool first(std::int64_t item) noexcept
    {
        seen = true;
        return items.step(item);
    }
    bool step(std::int64_t item) noexcept { return items.step(item); }
    [[nodiscard]] Outcome<double> finish() const noexcept
    {
        if (!seen) {
            return stored;
        }
        const Outcome<int128> quotient = items.finish();
        if (!quotient) {
            return std::unexpected(quotient.error());
        }
        return static_cast<double>(*quotient);
    }
};

Sum sum_of() noexcept;
Difference dif_of() noexcept;
Quotient<double, double> div_of() noexcept;
Quotient<int128, std::int64_t> int_div_of() noexcept;
Product mult_of() noexcept;

// The items are summed first and the stored number added last.
Sum sum_of_stored(double stored) noexcept;
// The difference of the items is taken from the stored number.
DifferenceFromStored dif_of_stored(double stored) noexcept;
Quotient<double, double> div_of_stored(double stored) noexcept;
// The stored number truncated (saturating), then divided by every item.
IntegerQuotientOfStored int_div_of_stored(double stored) noexcept;
Product mult_of_stored(double stored) noexcept;

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
