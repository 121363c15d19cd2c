#include "binding/convert.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
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

// An exact list or tuple is read by index, holding each item across a
// conversion that may run Python code and then rereading the live size:
// exactly what their iterators do, without the iterator. Exact floats and
// ints run no code, so they need no reference of their own and leave the
// size as it was. Polls come between chunks, before an item is fetched,
// never while one is borrowed.
template <class T, bool IsList, class Convert>
Expected<std::vector<T>> read_by_index(PyObject *object, Convert convert_item)
{
    constexpr auto interval = static_cast<Py_ssize_t>(Items<T>::poll_interval);
    std::vector<T> items;
    items.reserve(static_cast<std::size_t>(Py_SIZE(object)));
    Py_ssize_t i = 0;
    while (i < Py_SIZE(object)) {
        if (i != 0 && !poll_signals()) [[unlikely]] {
            return std::unexpected(Error::fetch());
        }
        for (Py_ssize_t end = std::min(i + interval, Py_SIZE(object)); i < end; ++i) {
            PyObject *item = IsList ? PyList_GET_ITEM(object, i) : PyTuple_GET_ITEM(object, i);
            T value{};
            if (!read_exact(item, value)) [[unlikely]] {
                Owned held = Owned::borrow(item);
                auto converted = convert_item(item);
                if (!converted) {
                    return std::unexpected(std::move(converted.error()));
                }
                value = *converted;
                end = std::min(end, Py_SIZE(object));
            }
            items.push_back(value);
        }
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
    for (std::size_t i = 1;; ++i) {
        // Iteration runs Python code anyway: one test an item is nothing.
        if (i % Items<T>::poll_interval == 0 && !poll_signals()) [[unlikely]] {
            return std::unexpected(Error::fetch());
        }
        Owned item = Owned::steal(PyIter_Next(iterator.get()));
        if (!item) {
            break;
        }
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
    ItemFormat format;
};

template <class Native>
constexpr ItemFormat item_format_of()
{
    constexpr std::size_t size = sizeof(Native);
    if constexpr (std::is_floating_point_v<Native>) {
        return size == 4 ? ItemFormat::f32 : ItemFormat::f64;
    }
    else if constexpr (std::is_signed_v<Native>) {
        return size == 1   ? ItemFormat::i8
               : size == 2 ? ItemFormat::i16
               : size == 4 ? ItemFormat::i32
                           : ItemFormat::i64;
    }
    else {
        return size == 1   ? ItemFormat::u8
               : size == 2 ? ItemFormat::u16
               : size == 4 ? ItemFormat::u32
                           : ItemFormat::u64;
    }
}

template <char Code, class Native>
constexpr FormatCode format_code{Code, sizeof(Native), item_format_of<Native>()};

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

// The format of a one-dimensional buffer's items, when it is one native
// number per item: a format of one code, in native order and size.
std::optional<ItemFormat> item_format(const Py_buffer &view) noexcept
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
            return known.format;
        }
    }
    return std::nullopt;
}

// The items of a buffer read in place, when that gives what iteration
// would (an integer list takes no floats; an unsigned item beyond the
// signed range is found as it is read); otherwise nothing, and iteration
// reads the object.
template <class T>
Expected<std::optional<ListItems<T>>> read_in_place(PyObject *object)
{
    if (!iterates_its_buffer(object)) {
        return std::nullopt;
    }
    HeldBuffer buffer = HeldBuffer::request(object, PyBUF_RECORDS_RO);
    if (!buffer) {
        // Iteration raises what applies (a released memoryview, say).
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            return std::unexpected(Error::fetch());
        }
        PyErr_Clear();
        return std::nullopt;
    }
    const Py_buffer &view = buffer.view();
    const std::optional<ItemFormat> format = item_format(view);
    if (!format ||
        (std::is_integral_v<T> && (*format == ItemFormat::f64 || *format == ItemFormat::f32))) {
        return std::nullopt;
    }
    Items<T> items(static_cast<const std::byte *>(view.buf), view.strides[0],
                   static_cast<std::size_t>(view.shape[0]), *format, poll_signals);
    return ListItems<T>(std::move(buffer), items);
}

// An exact list or tuple, the most common number list, is folded where its
// floats lie; an item that is not an exact float sends it back to be
// converted. No Python code runs before the computation (a list argument is
// the last one converted), so nothing can change it meanwhile.
std::optional<ListItems<double>> read_boxed(PyObject *object) noexcept
{
    const bool list = PyList_CheckExact(object);
    if (!list && !PyTuple_CheckExact(object)) {
        return std::nullopt;
    }
    PyObject *const *items = list ? reinterpret_cast<PyListObject *>(object)->ob_item
                                  : reinterpret_cast<PyTupleObject *>(object)->ob_item;
    constexpr BoxLayout floats{&PyFloat_Type, offsetof(PyObject, ob_type),
                               offsetof(PyFloatObject, ob_fval)};
    return ListItems<double>(Items<double>(reinterpret_cast<const std::byte *>(items),
                                           static_cast<std::size_t>(Py_SIZE(object)), floats));
}

template <class T, class Convert>
Expected<ListItems<T>> to_list(PyObject *object, ListRoute route, Convert convert_item)
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
        if (route == ListRoute::in_place) {
            if (auto boxed = read_boxed(object)) {
                return std::move(*boxed);
            }
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
        if (route == ListRoute::in_place) {
            auto in_place = read_in_place<T>(object);
            if (!in_place) {
                return std::unexpected(std::move(in_place.error()));
            }
            if (*in_place) {
                return std::move(**in_place);
            }
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

Expected<ListItems<double>> to_number_list(PyObject *object, ListRoute route)
{
    return to_list<double>(object, route, to_real);
}

Expected<ListItems<std::int64_t>> to_integer_list(PyObject *object, ListRoute route)
{
    return to_list<std::int64_t>(object, route, to_signed);
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
