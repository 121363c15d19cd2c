// Parameter kinds (argument object to native value) and result kinds
// (native value to Python object).
#pragma once

#include "binding/error.hpp"
#include "binding/numeric.hpp"

#include <cstdint>
#include <string>
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

// The __qualname__ of the object's type, for messages.
[[nodiscard]] std::string qualified_type_name(PyObject *object);

[[nodiscard]] Expected<std::int64_t> to_signed(PyObject *object);
[[nodiscard]] Expected<std::uint64_t> to_unsigned(PyObject *object);
[[nodiscard]] Expected<std::vector<double>> to_number_list(PyObject *object);
[[nodiscard]] Expected<std::vector<std::int64_t>> to_integer_list(PyObject *object);

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
