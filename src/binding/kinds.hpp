// Parameter kinds, how an argument object becomes the value a computation
// takes, and result kinds, how a computation's value becomes a Python
// object. The computation's C++ signature names its kinds; a type with no
// kind is refused when the declaration is served.
#pragma once

#include "binding/items.hpp"

#include <concepts>
#include <cstdint>
#include <string_view>

namespace tesmar {

// A parameter kind has:
//   Holder                  what keeps the converted value alive for the call;
//   read_fast(object, out)  the cheap cases, inline: no call, no Python code,
//                           no failure; false leaves the rest to convert;
//   convert(object, name)   the Holder, or the failure naming the argument
//                           `name` (Python code may run);
//   view(holder)            the value as the computation takes it;
//   is_list                 whether the value is a list's items.
template <class T>
struct ParameterKind;

// A number: `fast` reads the cheap cases, `fully` any other object.
template <class T, bool (*fast)(PyObject *, T &) noexcept, Result<T> (*fully)(PyObject *)>
struct ScalarKind {
    using Holder = T;
    static constexpr bool is_list = false;
    static T view(T value) { return value; }

    [[gnu::always_inline]] static bool read_fast(PyObject *object, T &value)
    {
        return fast(object, value);
    }

    [[gnu::noinline]] static Result<T> convert(PyObject *object, std::string_view name)
    {
        auto value = fully(object);
        if (!value) {
            return std::unexpected(name_argument(std::move(value).error(), name));
        }
        return value;
    }
};

// A real argument.
template <>
struct ParameterKind<double> : ScalarKind<double, read_exact, to_real> {};

// A signed integer argument.
template <>
struct ParameterKind<std::int64_t> : ScalarKind<std::int64_t, read_exact, to_signed> {};

// An unsigned integer argument (a count).
template <>
struct ParameterKind<std::uint64_t> : ScalarKind<std::uint64_t, read_exact, to_unsigned> {};

// A list: its items, held for the call. `read` is the list's conversion.
template <class T, Result<ListArgument<T>> (*read)(PyObject *, std::string_view)>
struct ListKind {
    using Holder = ListArgument<T>;
    static constexpr bool is_list = true;
    static Items<T> view(const Holder &held) { return held.items; }
    static constexpr bool read_fast(PyObject * /*object*/, Holder & /*held*/) { return false; }
    static Result<Holder> convert(PyObject *object, std::string_view name)
    {
        return read(object, name);
    }
};

// A number list.
template <>
struct ParameterKind<NumberItems> : ListKind<double, to_number_list> {};

// An integer list.
template <>
struct ParameterKind<IntegerItems> : ListKind<std::int64_t, to_integer_list> {};

template <class T>
concept HasParameterKind = requires { typename ParameterKind<T>::Holder; };

// A result kind: to_python(value), the new object; failing to make it is an
// internal failure.
template <class T>
struct ResultKind;

template <>
struct ResultKind<double> {
    static Owned to_python(double value) { return infallible(PyFloat_FromDouble(value)); }
};

template <>
struct ResultKind<bool> {
    static Owned to_python(bool value) { return Owned::borrow(value ? Py_True : Py_False); }
};

// A signed integer of 32 or 64 bits.
template <class T>
    requires std::same_as<T, std::int64_t> || std::same_as<T, std::int32_t>
struct ResultKind<T> {
    static Owned to_python(T value) { return infallible(PyLong_FromLongLong(value)); }
};

template <>
struct ResultKind<std::uint64_t> {
    static Owned to_python(std::uint64_t value)
    {
        return infallible(PyLong_FromUnsignedLongLong(value));
    }
};

template <>
struct ResultKind<int128> {
    static Owned to_python(int128 value);
};

template <class T>
concept HasResultKind = requires(T value) {
    { ResultKind<T>::to_python(value) } -> std::same_as<Owned>;
};

}  // namespace tesmar
