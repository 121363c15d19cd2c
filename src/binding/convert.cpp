#include "binding/convert.hpp"

#include <algorithm>
#include <limits>
#include <string>

namespace tesmar {
namespace {

// A sequence's length is only a hint: a lying __len__ must not make us
// reserve more than this before items arrive.
constexpr Py_ssize_t max_reserved_hint = 65536;

// An exact list or tuple is read by index, checking the live size at every
// step and holding each item across a conversion that may run Python code:
// exactly what their iterators do, without the iterator. Exact floats and
// ints run no code, so they need no reference of their own.
template <class T, bool IsList, class Convert>
Expected<std::vector<T>> read_by_index(PyObject *object, Convert convert_item)
{
    std::vector<T> items;
    items.reserve(static_cast<std::size_t>(Py_SIZE(object)));
    for (Py_ssize_t i = 0; i < Py_SIZE(object); ++i) {
        PyObject *item = IsList ? PyList_GET_ITEM(object, i) : PyTuple_GET_ITEM(object, i);
        T value{};
        if (!read_exact(item, value)) [[unlikely]] {
            Owned held = Owned::borrow(item);
            auto converted = convert_item(item);
            if (!converted) {
                return std::unexpected(std::move(converted.error()));
            }
            value = *converted;
        }
        items.push_back(value);
    }
    return items;
}

template <class T, class Convert>
Expected<std::vector<T>> to_list(PyObject *object, Convert convert_item)
{
    if (PyUnicode_Check(object)) {
        return std::unexpected(Error::make(PyExc_TypeError, "Can't extract `str` to `Vec`"));
    }
    if (!PySequence_Check(object)) {
        return std::unexpected(Error::make(PyExc_TypeError, "'" + qualified_type_name(object) +
                                                                "' object cannot be converted "
                                                                "to 'Sequence'"));
    }
    if (PyList_CheckExact(object)) {
        return read_by_index<T, true>(object, convert_item);
    }
    if (PyTuple_CheckExact(object)) {
        return read_by_index<T, false>(object, convert_item);
    }
    std::vector<T> items;
    Py_ssize_t hint = PySequence_Size(object);
    if (hint < 0) {
        PyErr_Clear();
    }
    else {
        items.reserve(static_cast<std::size_t>(std::min(hint, max_reserved_hint)));
    }
    Owned iterator = Owned::steal(PyObject_GetIter(object));
    if (!iterator) {
        return std::unexpected(Error::fetch());
    }
    while (Owned item = Owned::steal(PyIter_Next(iterator.get()))) {
        auto value = convert_item(item.get());
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        items.push_back(*value);
    }
    if (PyErr_Occurred() != nullptr) {
        return std::unexpected(Error::fetch());
    }
    return items;
}

}  // namespace

std::string qualified_type_name(PyObject *object)
{
    Owned name = Owned::steal(PyType_GetQualName(Py_TYPE(object)));
    Py_ssize_t size = 0;
    const char *text = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return {text, static_cast<std::size_t>(size)};
}

Expected<std::int64_t> to_signed(PyObject *object)
{
    if (PyLong_CheckExact(object)) [[likely]] {
        // Cheaper than PyLong_AsLongLong for several-digit ints; on overflow
        // the call below raises CPython's own OverflowError.
        int overflow = 0;
        long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow == 0) {
            return static_cast<std::int64_t>(value);
        }
    }
    long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred() != nullptr) {
        return std::unexpected(Error::fetch());
    }
    return static_cast<std::int64_t>(value);
}

Expected<std::uint64_t> to_unsigned(PyObject *object)
{
    Owned index;
    if (!PyLong_Check(object)) {
        index = Owned::steal(PyNumber_Index(object));
        if (!index) {
            return std::unexpected(Error::fetch());
        }
        object = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == std::numeric_limits<unsigned long long>::max() && PyErr_Occurred() != nullptr) {
        return std::unexpected(Error::fetch());
    }
    return static_cast<std::uint64_t>(value);
}

Expected<std::vector<double>> to_number_list(PyObject *object)
{
    return to_list<double>(object, to_real);
}

Expected<std::vector<std::int64_t>> to_integer_list(PyObject *object)
{
    return to_list<std::int64_t>(object, to_signed);
}

Owned to_python(int128 value)
{
    if (value >= std::numeric_limits<std::int64_t>::min() &&
        value <= std::numeric_limits<std::int64_t>::max()) {
        return to_python(static_cast<std::int64_t>(value));
    }
    return checked(PyLong_FromNativeBytes(&value, sizeof value, Py_ASNATIVEBYTES_NATIVE_ENDIAN));
}

}  // namespace tesmar
