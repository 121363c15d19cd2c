#include "ops/gcd_lcm.hpp"

namespace tesmar::ops::gcd_lcm {
namespace {

// Messages callers match on: they never change.
constexpr const char *gcd_with_int_of_nothing = "gcd_with_int() requires at least one argument";
constexpr const char *gcd_with_float_of_nothing = "gcd_with_float() requires at least one argument";

}  // namespace

Gcd<std::int64_t> gcd_with_int() noexcept { return {.of_nothing = gcd_with_int_of_nothing}; }

Gcd<double> gcd_with_float() noexcept { return {.of_nothing = gcd_with_float_of_nothing}; }

Lcm lcm_with() noexcept { return {}; }

}  // namespace tesmar::ops::gcd_lcm
