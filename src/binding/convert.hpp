// Parameter kinds (argument object to native value) and result kinds
// (native value to Python object).
#pragma once

#include "binding/error.hpp"
#include "binding/items.hpp"
#include "binding/numeric.hpp"
#include "binding/signals.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tesmar {

// Real argument: an exact float is read without any call.
[[nodiscard]] inline Expected<double> to_real(PyObject *object)
{
    if (PyFloat_CheckExact(object)) [[likely]] {
        return PyFloat_AS_DOUBLE(object);
    }
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
        return std::unexpected(Error::fetch());
    }
    return value;
}

// Exact floats and one-digit exact ints: read without any call, converted
// exactly, no Python code run, no failure possible. Anything else is left
// to the full conversion. The two read_exact sit on every fast path and are
// always inlined; compact_int, for ints where floats are usual, may stay a
// call.
[[nodiscard]] inline bool compact_int(PyObject *object, Py_ssize_t &value) noexcept
{
    if (!PyLong_CheckExact(object)) {
        return false;
    }
    auto *integer = reinterpret_cast<PyLongObject *>(object);
    if (!PyUnstable_Long_IsCompact(integer)) {
        return false;
    }
    value = PyUnstable_Long_CompactValue(integer);
    return true;
}

[[nodiscard, gnu::always_inline]] inline bool read_exact(PyObject *object, double &value) noexcept
{
    if (PyFloat_CheckExact(object)) [[likely]] {
        value = PyFloat_AS_DOUBLE(object);
        return true;
    }
    Py_ssize_t integer = 0;
    if (compact_int(object, integer)) {
        value = static_cast<double>(integer);  // below 2**30 in magnitude: exact
        return true;
    }
    return false;
}

// Exact ints below 2**60 in magnitude (at most two 30-bit digits), read
// from the layout that CPython's own inline PyUnstable_Long_CompactValue
// reads. PyLong_AsLongLong takes a byte-array detour for every int of two
// digits, which would dominate integer lists; the module is built for 3.13
// only and the assertion stops a build against another digit layout.
[[nodiscard, gnu::always_inline]] inline bool read_exact(PyObject *object,
                                                         std::int64_t &value) noexcept
{
    static_assert(PyLong_SHIFT == 30 && _PyLong_NON_SIZE_BITS == 3 && _PyLong_SIGN_MASK == 3);
    if (!PyLong_CheckExact(object)) {
        return false;
    }
    const auto &number = reinterpret_cast<PyLongObject *>(object)->long_value;
    const std::uintptr_t digits = number.lv_tag >> 3U;
    if (digits > 2) [[unlikely]] {
        return false;
    }
    std::uint64_t magnitude = digits == 0 ? 0 : number.ob_digit[0];
    if (digits == 2) {
        magnitude |= std::uint64_t{number.ob_digit[1]} << 30U;
    }
    // The sign field holds 0 (positive), 1 (zero) or 2 (negative).
    const auto sign = 1 - static_cast<std::int64_t>(number.lv_tag & 3U);
    value = sign * static_cast<std::int64_t>(magnitude);
    return true;
}

// The __qualname__ of the object's type, for messages.
[[nodiscard]] std::string qualified_type_name(PyObject *object);

[[nodiscard]] Expected<std::int64_t> to_signed(PyObject *object);
[[nodiscard]] Expected<std::uint64_t> to_unsigned(PyObject *object);
// The items of a list argument and what keeps them alive for the call: the
// buffer they lie in, the vector they were converted into, or the argument
// itself (an exact list of floats, which nothing can change before the
// computation: a list parameter is converted last).
template <class T>
class ListItems {
public:
    ListItems() = default;
    explicit ListItems(std::vector<T> converted)
        : converted_(std::move(converted)), items_(std::span<const T>(converted_), poll_signals)
    {
    }
    ListItems(HeldBuffer buffer, Items<T> items) : buffer_(std::move(buffer)), items_(items) {}
    explicit ListItems(Items<T> items) : items_(items) {}

    // Moving keeps the items where they are: a vector's move keeps its
    // storage, and a buffer's memory stays with its exporter.
    [[nodiscard]] Items<T> items() const noexcept { return items_; }

private:
    std::vector<T> converted_;
    HeldBuffer buffer_;
    Items<T> items_;
};

// How a list argument is read: where its items lie when that gives what
// converting them would, or always converted through Python (the second
// try, after the items could not be read where they lie).
enum class ListRoute {
    in_place,
    converted,
};

[[nodiscard]] Expected<ListItems<double>> to_number_list(PyObject *object, ListRoute route);
[[nodiscard]] Expected<ListItems<std::int64_t>> to_integer_list(PyObject *object, ListRoute route);

// Result kinds. Failing to make the object is an internal failure.
[[nodiscard]] inline Owned to_python(double value) { return checked(PyFloat_FromDouble(value)); }
[[nodiscard]] inline Owned to_python(bool value)
{
    return Owned::borrow(value ? Py_True : Py_False);
}
[[nodiscard]] inline Owned to_python(std::int64_t value)
{
    return checked(PyLong_FromLongLong(value));
}
[[nodiscard]] inline Owned to_python(std::int32_t value) { return checked(PyLong_FromLong(value)); }
[[nodiscard]] inline Owned to_python(std::uint64_t value)
{
    return checked(PyLong_FromUnsignedLongLong(value));
}
[[nodiscard]] Owned to_python(int128 value);

}  // namespace tesmar
