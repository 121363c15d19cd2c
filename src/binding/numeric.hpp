// Conversions between doubles and integers written without undefined
// behaviour: a double outside an integer type's range is never cast.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

namespace tesmar {

__extension__ using int128 = __int128;

// The extreme values of a signed integer type, computed without overflow
// (the standard traits leave the 128-bit type out in strict C++ mode).
template <class Int>
inline constexpr Int int_max = [] {
    Int max = 1;
    for (std::size_t bit = 2; bit < sizeof(Int) * CHAR_BIT; ++bit) {
        max = max * 2 + 1;
    }
    return max;
}();
template <class Int>
inline constexpr Int int_min = -int_max<Int> - 1;

// The saturating conversion: NaN gives 0, values beyond the range give the
// nearest end of it, everything else is truncated toward zero.
template <class Int>
[[nodiscard]] constexpr Int saturate_to(double x) noexcept
{
    // -int_min is a power of two, exact as a double; no double lies between
    // it and the largest one below it.
    constexpr double limit = -static_cast<double>(int_min<Int>);
    if (x != x) {
        return 0;
    }
    if (x >= limit) {
        return int_max<Int>;
    }
    if (x < -limit) {
        return int_min<Int>;
    }
    return static_cast<Int>(x);
}

static_assert(int_max<std::int64_t> == INT64_MAX && int_min<std::int64_t> == INT64_MIN);
static_assert(saturate_to<std::int64_t>(9223372036854774784.0) == 9223372036854774784);
static_assert(saturate_to<std::int64_t>(9223372036854775808.0) == INT64_MAX);
static_assert(saturate_to<std::int64_t>(-9223372036854775808.0) == INT64_MIN);
static_assert(saturate_to<int128>(1.7014118346046923e38) == int_max<int128>);

}  // namespace tesmar
