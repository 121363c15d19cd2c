// Parameter kinds: how each native parameter type of a computation is read
// from its argument object. A computation's C++ signature names its kinds.
#pragma once

#include "binding/convert.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace tesmar {

// The general form of a kind: `Holder` keeps the converted value alive for
// the call, `view` hands it to the computation.
template <class T>
struct Param;

// A real argument.
template <>
struct Param<double> {
    using Holder = double;
    static Expected<double> convert(PyObject *object) { return to_real(object); }
    static double view(double value) { return value; }
};

// A signed integer argument.
template <>
struct Param<std::int64_t> {
    using Holder = std::int64_t;
    static Expected<std::int64_t> convert(PyObject *object) { return to_signed(object); }
    static std::int64_t view(std::int64_t value) { return value; }
};

// An unsigned integer argument (a count).
template <>
struct Param<std::uint64_t> {
    using Holder = std::uint64_t;
    static Expected<std::uint64_t> convert(PyObject *object) { return to_unsigned(object); }
    static std::uint64_t view(std::uint64_t value) { return value; }
};

// A number list: the items, converted, held for the call.
template <>
struct Param<std::span<const double>> {
    using Holder = std::vector<double>;
    static Expected<Holder> convert(PyObject *object) { return to_number_list(object); }
    static std::span<const double> view(const Holder &items) { return items; }
};

// An integer list.
template <>
struct Param<std::span<const std::int64_t>> {
    using Holder = std::vector<std::int64_t>;
    static Expected<Holder> convert(PyObject *object) { return to_integer_list(object); }
    static std::span<const std::int64_t> view(const Holder &items) { return items; }
};

// The fast form of a kind: reads, without any call, an argument that
// converts without running Python code and cannot fail. A kind without one
// (the lists) always takes the general path.
template <class T>
struct Fast {
    static constexpr bool exists = false;
};

template <>
struct Fast<double> {
    static constexpr bool exists = true;
    [[gnu::always_inline]] static bool read(PyObject *object, double &value) noexcept
    {
        return read_exact(object, value);
    }
};

template <>
struct Fast<std::int64_t> {
    static constexpr bool exists = true;
    [[gnu::always_inline]] static bool read(PyObject *object, std::int64_t &value) noexcept
    {
        return read_exact(object, value);
    }
};

template <>
struct Fast<std::uint64_t> {
    static constexpr bool exists = true;
    [[gnu::always_inline]] static bool read(PyObject *object, std::uint64_t &value) noexcept
    {
        std::int64_t exact = 0;
        if (!read_exact(object, exact) || exact < 0) {
            return false;  // negative counts raise, on the general path
        }
        value = static_cast<std::uint64_t>(exact);
        return true;
    }
};

}  // namespace tesmar
