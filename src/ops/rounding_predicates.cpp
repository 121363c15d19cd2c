#include "ops/rounding_predicates.hpp"

#include "binding/numeric.hpp"

#include <cmath>
#include <cstdint>

namespace tesmar::ops::rounding_predicates {

std::int64_t floor(double x) noexcept { return saturate_to<std::int64_t>(std::floor(x)); }
std::int64_t ceil(double x) noexcept { return saturate_to<std::int64_t>(std::ceil(x)); }
double floor_stored(double stored) noexcept { return std::floor(stored); }
double ceil_stored(double stored) noexcept { return std::ceil(stored); }

std::int32_t sign(double x) noexcept { return x > 0.0 ? 1 : (x < 0.0 ? -1 : 0); }
double sign_stored(double stored) noexcept
{
    return stored > 0.0 ? 1.0 : (stored < 0.0 ? -1.0 : 0.0);
}

bool is_positive(double x) noexcept { return x > 0.0; }
bool is_negative(double x) noexcept { return 0.0 > x; }
bool is_integer(double x) noexcept { return x - std::trunc(x) == 0.0; }

bool is_even(std::int64_t n) noexcept { return (static_cast<std::uint64_t>(n) & 1U) == 0; }
bool is_odd(std::int64_t n) noexcept { return !is_even(n); }

bool is_even_stored(double stored) noexcept { return std::fmod(stored, 2.0) == 0.0; }
bool is_odd_stored(double stored) noexcept { return !is_even_stored(stored); }

}  // namespace tesmar::ops::rounding_predicates
