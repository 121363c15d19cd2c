// Conversions between doubles and integers written without undefined
// behaviour: a double outside an integer type's range is never cast.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tesmar {

__extension__ using int128 = __int128;
__extension__ using uint128 = unsigned __int128;

// The largest double below 2**63.
inline constexpr double largest_below_2_63 = 9223372036854774784.0;

// The saturating conversion: NaN gives 0, values beyond the range give the
// nearest end of it, everything else is truncated toward zero.
[[nodiscard]] constexpr std::int64_t saturate_to_i64(double x) noexcept
{
    if (x != x) {
        return 0;
    }
    if (x > largest_below_2_63) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (x < -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(x);
}

}  // namespace tesmar
