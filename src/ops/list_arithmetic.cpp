// Folding a list with one arithmetic operator. The module functions fold the
// list alone; the methods fold it into the stored number, each in its own
// order. One rounded double operation at a time, strictly left to right.
#include "binding/frame.hpp"
#include "number_class/method.hpp"
#include "ops/ops.hpp"

#include <span>

namespace tesmar::ops {
namespace {

using Numbers = std::span<const double>;
using Integers = std::span<const std::int64_t>;

double sum(Numbers items) noexcept
{
    double acc = -0.0;
    for (double item : items) {
        acc = acc + item;
    }
    return acc;
}

double difference(Numbers items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    double acc = items.front();
    for (double item : items.subspan(1)) {
        acc = acc - item;
    }
    return acc;
}

// Divides `acc` by every item in turn; -0.0 is a zero divisor, NaN is not.
Outcome<double> divide_by_each(double acc, Numbers divisors, const char *message) noexcept
{
    for (double divisor : divisors) {
        if (divisor == 0.0) {
            return zero_division(message);
        }
        acc = acc / divisor;
    }
    return acc;
}

// The quotient folds in 128 bits: -2**63 divided by -1 is an ordinary
// answer, and no quotient of 64-bit operands leaves [-2**63, 2**63].
Outcome<int128> int_divide_by_each(int128 acc, Integers divisors, const char *message) noexcept
{
    for (std::int64_t divisor : divisors) {
        if (divisor == 0) {
            return zero_division(message);
        }
        acc = acc / divisor;
    }
    return acc;
}

double product(Numbers items) noexcept
{
    if (items.empty()) {
        return 1.0;
    }
    double acc = items.front();
    for (double item : items.subspan(1)) {
        acc = acc * item;
    }
    return acc;
}

Outcome<double> quotient(Numbers items) noexcept
{
    if (items.empty()) {
        return 0.0;
    }
    return divide_by_each(items.front(), items.subspan(1), "Division by zero!");
}

Outcome<int128> int_quotient(Integers items) noexcept
{
    if (items.empty()) {
        return 0;
    }
    return int_divide_by_each(items.front(), items.subspan(1), "Division by zero!");
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
    auto quotient = int_divide_by_each(saturate_to_i64(stored), items, "Can't divide by zero!");
    if (!quotient) {
        return std::unexpected(quotient.error());
    }
    return static_cast<double>(*quotient);
}

double product_into(double stored, Numbers items) noexcept
{
    double acc = stored;
    for (double item : items) {
        acc = acc * item;
    }
    return acc;
}

constexpr Params sum_of_params{"sum_of(args)\n--\n\n"};
constexpr Params dif_of_params{"dif_of(args)\n--\n\n"};
constexpr Params div_of_params{"div_of(args)\n--\n\n"};
constexpr Params int_div_of_params{"int_div_of(args)\n--\n\n"};
constexpr Params mult_of_params{"mult_of(args)\n--\n\n"};
constexpr Params sum_of_method_params{"sum_of($self, args)\n--\n\n", Owner::number_class};
constexpr Params dif_of_method_params{"dif_of($self, args)\n--\n\n", Owner::number_class};
constexpr Params div_of_method_params{"div_of($self, args)\n--\n\n", Owner::number_class};
constexpr Params int_div_of_method_params{"int_div_of($self, args)\n--\n\n", Owner::number_class};
constexpr Params mult_of_method_params{"mult_of($self, args)\n--\n\n", Owner::number_class};

constexpr auto stores = Writes::result_instance;

}  // namespace

PyMethodDef sum_of_function = function_def<&sum, sum_of_params>();
PyMethodDef dif_of_function = function_def<&difference, dif_of_params>();
PyMethodDef div_of_function = function_def<&quotient, div_of_params>();
PyMethodDef int_div_of_function = function_def<&int_quotient, int_div_of_params>();
PyMethodDef mult_of_function = function_def<&product, mult_of_params>();

PyMethodDef sum_of_method = method_def<&sum_into, sum_of_method_params, stores>();
PyMethodDef dif_of_method = method_def<&difference_into, dif_of_method_params, stores>();
PyMethodDef div_of_method = method_def<&quotient_into, div_of_method_params, stores>();
PyMethodDef int_div_of_method = method_def<&int_quotient_into, int_div_of_method_params, stores>();
PyMethodDef mult_of_method = method_def<&product_into, mult_of_method_params, stores>();

}  // namespace tesmar::ops
