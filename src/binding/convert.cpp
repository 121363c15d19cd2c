#include "binding/convert.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

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
Expected<std::vector<T>> read_by_iteration(PyObject *object, Convert convert_item)
{
    std::vector<T> items;
    Py_ssize_t hint = PySequence_Size(object);
    if (hint >= 0) {
        items.reserve(static_cast<std::size_t>(std::min(hint, max_reserved_hint)));
    }
    else if (PyErr_ExceptionMatches(PyExc_Exception) != 0) {
        PyErr_Clear();  // a failing __len__ only costs the hint
    }
    else {
        return std::unexpected(Error::fetch());  // KeyboardInterrupt, SystemExit
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

// The objects whose iteration yields exactly the items of their own buffer:
// these exact types, never a subclass, which may iterate its own way.
// array.array and numpy's ndarray have no header that names their types;
// only a type defined in C is immutable, and these names are theirs.
bool iterates_its_buffer(PyObject *object) noexcept
{
    PyTypeObject *type = Py_TYPE(object);
    if (type == &PyMemoryView_Type || type == &PyBytes_Type || type == &PyByteArray_Type) {
        return true;
    }
    if (!PyType_HasFeature(type, Py_TPFLAGS_IMMUTABLETYPE)) {
        return false;
    }
    const std::string_view name = type->tp_name;
    return name == "array.array" || name == "numpy.ndarray";
}

struct FormatCode {
    char code;
    std::size_t size;
    Stored stored;
};

template <class Native>
constexpr Stored stored_as()
{
    constexpr std::size_t size = sizeof(Native);
    if constexpr (std::is_floating_point_v<Native>) {
        return size == 4 ? Stored::f32 : Stored::f64;
    }
    else if constexpr (std::is_signed_v<Native>) {
        return size == 1   ? Stored::i8
               : size == 2 ? Stored::i16
               : size == 4 ? Stored::i32
                           : Stored::i64;
    }
    else {
        return size == 1   ? Stored::u8
               : size == 2 ? Stored::u16
               : size == 4 ? Stored::u32
                           : Stored::u64;
    }
}

template <char Code, class Native>
constexpr FormatCode format_code{Code, sizeof(Native), stored_as<Native>()};

// The struct codes of native numbers that iterate as int or float: integers
// of 8 to 64 bits, float and double (bool, char, pointers and half floats
// are left to iteration).
constexpr std::array format_codes = {
    format_code<'b', signed char>, format_code<'B', unsigned char>,
    format_code<'h', short>,       format_code<'H', unsigned short>,
    format_code<'i', int>,         format_code<'I', unsigned int>,
    format_code<'l', long>,        format_code<'L', unsigned long>,
    format_code<'q', long long>,   format_code<'Q', unsigned long long>,
    format_code<'n', Py_ssize_t>,  format_code<'N', std::size_t>,
    format_code<'f', float>,       format_code<'d', double>,
};

// How a one-dimensional buffer stores its items, when it is one native
// number per item: a format of one code, in native order and size.
std::optional<Stored> stored_items(const Py_buffer &view) noexcept
{
    std::string_view format = view.format == nullptr ? "B" : view.format;
    if (format.starts_with('@')) {
        format.remove_prefix(1);
    }
    if (view.ndim != 1 || format.size() != 1) {
        return std::nullopt;
    }
    for (const FormatCode &known : format_codes) {
        if (known.code == format.front()) {
            if (std::cmp_not_equal(known.size, view.itemsize)) {
                return std::nullopt;
            }
            return known.stored;
        }
    }
    return std::nullopt;
}

// Whether iteration would convert every item to T without an error: an
// integer list takes no floats, nor unsigned values above 2**63 - 1 (for
// those, iteration raises OverflowError).
template <class T>
bool converts_without_error(const Py_buffer &view, Stored stored) noexcept
{
    if constexpr (std::is_same_v<T, std::int64_t>) {
        if (stored == Stored::f64 || stored == Stored::f32) {
            return false;
        }
        if (stored == Stored::u64) {
            const auto *first = static_cast<const std::byte *>(view.buf);
            for (Py_ssize_t i = 0; i < view.shape[0]; ++i) {
                std::uint64_t value = 0;
                std::memcpy(&value, first + i * view.strides[0], sizeof value);
                if (value > std::numeric_limits<std::int64_t>::max()) {
                    return false;
                }
            }
        }
    }
    return true;
}

// The items of a buffer read in place, when that gives exactly what
// iteration would; otherwise nothing, and iteration reads the object.
template <class T>
Expected<std::optional<ListItems<T>>> read_in_place(PyObject *object)
{
    if (!iterates_its_buffer(object)) {
        return std::nullopt;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) < 0) {
        // Iteration raises what applies (a released memoryview, say).
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            return std::unexpected(Error::fetch());
        }
        PyErr_Clear();
        return std::nullopt;
    }
    HeldBuffer held(view);
    const std::optional<Stored> stored = stored_items(view);
    if (!stored || !converts_without_error<T>(view, *stored)) {
        return std::nullopt;
    }
    Items<T> items(static_cast<const std::byte *>(view.buf), view.strides[0],
                   static_cast<std::size_t>(view.shape[0]), *stored);
    return ListItems<T>(std::move(held), items);
}

// An exact list or tuple of exact floats, the most common number list, is
// read where its floats lie: no Python code runs before the computation
// (a list argument is the last one converted), so nothing can change it.
std::optional<ListItems<double>> read_boxed(PyObject *object) noexcept
{
    const bool list = PyList_CheckExact(object);
    if (!list && !PyTuple_CheckExact(object)) {
        return std::nullopt;
    }
    PyObject *const *items = list ? reinterpret_cast<PyListObject *>(object)->ob_item
                                  : reinterpret_cast<PyTupleObject *>(object)->ob_item;
    const auto size = static_cast<std::size_t>(Py_SIZE(object));
    for (std::size_t i = 0; i < size; ++i) {
        if (!PyFloat_CheckExact(items[i])) {
            return std::nullopt;
        }
    }
    return ListItems<double>(Items<double>(reinterpret_cast<const std::byte *>(items), size,
                                           offsetof(PyFloatObject, ob_fval)));
}

template <class T, class Convert>
Expected<ListItems<T>> to_list(PyObject *object, Convert convert_item)
{
    if (PyUnicode_Check(object)) {
        return std::unexpected(Error::make(PyExc_TypeError, "Can't extract `str` to `Vec`"));
    }
    if (!PySequence_Check(object)) {
        return std::unexpected(Error::make(PyExc_TypeError, "'" + qualified_type_name(object) +
                                                                "' object cannot be converted "
                                                                "to 'Sequence'"));
    }
    if constexpr (std::is_same_v<T, double>) {
        if (auto boxed = read_boxed(object)) {
            return std::move(*boxed);
        }
    }
    Expected<std::vector<T>> converted;
    if (PyList_CheckExact(object)) {
        converted = read_by_index<T, true>(object, convert_item);
    }
    else if (PyTuple_CheckExact(object)) {
        converted = read_by_index<T, false>(object, convert_item);
    }
    else {
        auto in_place = read_in_place<T>(object);
        if (!in_place) {
            return std::unexpected(std::move(in_place.error()));
        }
        if (*in_place) {
            return std::move(**in_place);
        }
        converted = read_by_iteration<T>(object, convert_item);
    }
    if (!converted) {
        return std::unexpected(std::move(converted.error()));
    }
    return ListItems<T>(std::move(*converted));
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

Expected<ListItems<double>> to_number_list(PyObject *object)
{
    return to_list<double>(object, to_real);
}

Expected<ListItems<std::int64_t>> to_integer_list(PyObject *object)
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
