// Argument kinds: how each native parameter type of a computation is read
// from its argument object. A computation's C++ signature names its kinds.
#pragma once

#include "binding/convert.hpp"

#include <concepts>
#include <cstdint>

namespace tesmar {

// A kind: `Holder` keeps the converted value alive for the call, `view`
// hands it to the computation. A kind may also have a fast form, read_fast,
// which reads without any call an argument that converts without running
// Python code and cannot fail (false leaves the argument to `convert`).
template <class T>
struct ArgumentKind;

// A kind whose converted value is what the computation takes.
template <class T>
struct PlainKind {
    using Holder = T;
    static T view(T value) { return value; }
};

// A real argument.
template <>
struct ArgumentKind<double> : PlainKind<double> {
    static Expected<double> convert(PyObject *object) { return to_real(object); }
    [[gnu::always_inline]] static bool read_fast(PyObject *object, double &value) noexcept
    {
        return read_exact(object, value);
    }
};

// A signed integer argument.
template <>
struct ArgumentKind<std::int64_t> : PlainKind<std::int64_t> {
    static Expected<std::int64_t> convert(PyObject *object) { return to_signed(object); }
    [[gnu::always_inline]] static bool read_fast(PyObject *object, std::int64_t &value) noexcept
    {
        return read_exact(object, value);
    }
};

// An unsigned integer argument (a count).
template <>
struct ArgumentKind<std::uint64_t> : PlainKind<std::uint64_t> {
    static Expected<std::uint64_t> convert(PyObject *object) { return to_unsigned(object); }
    [[gnu::always_inline]] static bool read_fast(PyObject *object, std::uint64_t &value) noexcept
    {
        std::int64_t exact = 0;
        if (!read_exact(object, exact) || exact < 0) {
            return false;  // negative counts raise, on the general path
        }
        value = static_cast<std::uint64_t>(exact);
        return true;
    }
};

// A list: its items where they lie (a buffer or an exact list of floats,
// read in place) or converted into a vector, held for the call. The lists
// have no fast form.
template <class T>
struct ListKind {
    using Holder = ListItems<T>;
    static Items<T> view(const Holder &held) { return held.items(); }
    // The items may lie in the argument object itself (an exact list of
    // floats): no Python code may run between their conversion and the
    // computation, which converting a later parameter could do.
    static constexpr bool converted_last = true;
};

// A number list.
template <>
struct ArgumentKind<NumberItems> : ListKind<double> {
    static Expected<Holder> convert(PyObject *object, ListRoute route = ListRoute::in_place)
    {
        return to_number_list(object, route);
    }
};

// An integer list.
template <>
struct ArgumentKind<IntegerItems> : ListKind<std::int64_t> {
    static Expected<Holder> convert(PyObject *object, ListRoute route = ListRoute::in_place)
    {
        return to_integer_list(object, route);
    }
};

template <class T>
concept ConvertedLast = ArgumentKind<T>::converted_last;

template <class T>
concept HasFastForm = requires(PyObject *object, typename ArgumentKind<T>::Holder &value) {
    { ArgumentKind<T>::read_fast(object, value) } -> std::same_as<bool>;
};

}  // namespace tesmar
