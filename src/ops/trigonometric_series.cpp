#include "ops/trigonometric_series.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace tesmar::ops::trigonometric_series {
namespace {

// Messages callers match on: they never change, not even where the two
// surfaces word one error differently.
constexpr const char *cosine_is_zero = "Tangent is undefined: cosine is zero";
constexpr const char *cosine_close_to_zero = "Tangent undefined (cos close to 0)";

constexpr double pi = std::numbers::pi;  // 3.141592653589793
constexpr double two_pi = 2.0 * pi;      // 6.283185307179586, exact
constexpr double term_limit = 1e-16;
constexpr double cosine_limit = 1e-12;

double reduce(double x) noexcept
{
    double turns = std::floor((pi + x) / two_pi);
    return x - turns * two_pi;
}

// Sums `first` and at most `budget` further terms, each the previous one
// times m / ((k - 1) k). k counts in a double: (k - 1) k is exact, as in integers, while k is
// below 2**26, and no series comes near that, since within a few thousand steps its terms fall
// below term_limit or overflow and turn the sum into NaN. (A 64-bit unsigned product costs
// clang's code six instructions a term to convert, GCC's one.)
double series(double r, double first, double k, std::uint64_t budget) noexcept
{
    const double m = (-r) * r;
    double sum = first;
    double term = first;
    for (std::uint64_t step = 0; step < budget; ++step) {
        const double divisor = (k - 1.0) * k;
        term = term * (m / divisor);
        sum = sum + term;
        k += 2.0;
        if (std::isnan(sum)) {
            return sum;  // nothing can bring it back, whatever the budget
        }
        if (std::fabs(term) < term_limit) {
            break;
        }
    }
    return sum;
}

struct Sums {
    double sine;
    double cosine;
};

double cosine_sum(double r, std::uint64_t budget) noexcept { return series(r, 1.0, 2.0, budget); }
double sine_sum(double r, std::uint64_t budget) noexcept { return series(r, r, 3.0, budget); }

Outcome<double> tangent(Sums sums, const char *message) noexcept
{
    if (std::fabs(sums.cosine) < cosine_limit) {
        return zero_division(message);
    }
    return sums.sine / sums.cosine;
}

// The methods sum the first term even when given no terms.
std::uint64_t method_budget(std::uint64_t terms) noexcept { return terms == 0 ? 0 : terms - 1; }

}  // namespace

double cos(double x, std::uint64_t terms) noexcept
{
    return terms == 0 ? 0.0 : cosine_sum(reduce(x), terms - 1);
}

double sin(double x, std::uint64_t terms) noexcept
{
    return terms == 0 ? 0.0 : sine_sum(reduce(x), terms - 1);
}

Outcome<double> tan(double x, std::uint64_t terms) noexcept
{
    if (terms == 0) {
        return tangent({0.0, 0.0}, cosine_is_zero);
    }
    double r = reduce(x);
    return tangent({sine_sum(r, terms - 1), cosine_sum(r, terms - 1)}, cosine_is_zero);
}

double cos_stored(double stored, std::uint64_t terms) noexcept
{
    return cosine_sum(reduce(stored), method_budget(terms));
}

double sin_stored(double stored, std::uint64_t terms) noexcept
{
    return sine_sum(reduce(stored), method_budget(terms));
}

Outcome<double> tan_stored(double stored, std::uint64_t terms) noexcept
{
    double r = reduce(stored);
    std::uint64_t budget = method_budget(terms);
    return tangent({sine_sum(r, budget), cosine_sum(r, budget)}, cosine_close_to_zero);
}

}  // namespace tesmar::ops::trigonometric_series
