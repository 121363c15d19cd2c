#include "binding/convert.hpp"

#include "binding/kinds.hpp"

#include "binding/texts.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

namespace tesmar {
namespace {

template <class T>
bool to_native(PyObject *object, T &value) noexcept
{
    if constexpr (std::is_same_v<T, double>) {
        return to_real(object, value);
    }
    else {
        return to_signed(object, value);
    }
}

// The items of an exact list or tuple as they stand.
template <bool IsList>
Boxes boxes_of(const void *list) noexcept
{
    auto *object = static_cast<PyObject *>(const_cast<void *>(list));
    PyObject *const *items = IsList ? reinterpret_cast<PyListObject *>(object)->ob_item
                                    : reinterpret_cast<PyTupleObject *>(object)->ob_item;
    return {reinterpret_cast<const std::byte *>(items), static_cast<std::size_t>(Py_SIZE(object))};
}

// A live list's reader of one item that the walk does not read itself: it
// is held across its conversion, which may run Python code that changes
// the list.
template <class T, bool IsList>
bool read_live(const void *list, std::size_t index, T &out, Stop *stop) noexcept
{
    auto *object = static_cast<PyObject *>(const_cast<void *>(list));
    const auto i = static_cast<Py_ssize_t>(index);
    const Owned item =
        Owned::borrow(IsList ? PyList_GET_ITEM(object, i) : PyTuple_GET_ITEM(object, i));
    if (!to_native(item.get(), out)) {
        *stop = Stop::conversion_raised;
        return false;
    }
    return true;
}

// A live list's reader of a run of exact ints (and, in a number list,
// exact floats), whose conversion runs no Python code; an int out of range
// raises CPython's own OverflowError.
template <class T, bool IsList>
std::size_t read_run(const void *list, std::size_t first, T *out, std::size_t capacity,
                     Stop *stop) noexcept
{
    auto *object = static_cast<PyObject *>(const_cast<void *>(list));
    for (std::size_t k = 0; k < capacity; ++k) {
        const auto i = static_cast<Py_ssize_t>(first + k);
        PyObject *item = IsList ? PyList_GET_ITEM(object, i) : PyTuple_GET_ITEM(object, i);
        const bool exact =
            PyLong_CheckExact(item) || (std::is_same_v<T, double> && PyFloat_CheckExact(item));
        if (!exact) {
            return k;
        }
        if (!to_native(item, out[k])) {
            *stop = Stop::conversion_raised;
            return k;
        }
    }
    return capacity;
}

static_assert(offsetof(PyObject, ob_type) == FloatLayout::type_offset &&
              offsetof(PyFloatObject, ob_fval) == FloatLayout::value_offset);
static_assert(offsetof(PyLongObject, long_value.lv_tag) == IntLayout::tag_offset &&
              offsetof(PyLongObject, long_value.ob_digit) == IntLayout::digits_offset &&
              PyLong_SHIFT == IntLayout::digit_bits &&
              _PyLong_NON_SIZE_BITS == IntLayout::tag_bits &&
              sizeof(digit) == sizeof(std::uint32_t));

template <class T>
LiveList<T> live_list(PyObject *object) noexcept
{
    if (PyList_CheckExact(object)) {
        return {object,        boxes_of<true>, read_live<T, true>, read_run<T, true>,
                &PyFloat_Type, &PyLong_Type};
    }
    return {object,        boxes_of<false>, read_live<T, false>, read_run<T, false>,
            &PyFloat_Type, &PyLong_Type};
}

// An iterator's reader of a chunk of its items, converted; it runs Python
// code (__next__ and the conversions).
template <class T>
Pulled pull_chunk(const void *iterator, T *chunk, std::size_t capacity, Stop *stop) noexcept
{
    auto *object = static_cast<PyObject *>(const_cast<void *>(iterator));
    const CallingPython guard;
    if (!guard) {
        *stop = Stop::conversion_raised;
        return {0, false};
    }
    const iternextfunc next = Py_TYPE(object)->tp_iternext;
    for (std::size_t k = 0; k < capacity; ++k) {
        const Owned item = Owned::steal(next(object));
        if (!item) {
            if (PyErr_Occurred() == nullptr) {
                return {k, false};
            }
            if (PyErr_ExceptionMatches(PyExc_StopIteration) != 0) {
                PyErr_Clear();
                return {k, false};
            }
            *stop = Stop::conversion_raised;
            return {k, false};
        }
        if (!read_exact(item.get(), chunk[k]) && !to_native(item.get(), chunk[k])) {
            *stop = Stop::conversion_raised;
            return {k, false};
        }
    }
    return {capacity, true};
}

// An iterator over the object, to be pulled as the walk goes. The length
// is asked for first, as a hint that nothing needs any more: a failing
// __len__ is ignored, unless it raised KeyboardInterrupt or SystemExit.
Owned iterate(PyObject *object)
{
    const CallingPython guard;  // __len__ and __iter__ run Python code
    if (!guard) {
        return {};
    }
    if (PySequence_Size(object) < 0) {
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            return {};
        }
        PyErr_Clear();
    }
    return Owned::steal(PyObject_GetIter(object));
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

// The memory an object exports now; false when it exports none.
bool exported_memory(PyObject *exporter, const void *&memory, Py_ssize_t &length) noexcept
{
    Py_buffer view;
    if (PyObject_GetBuffer(exporter, &view, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();  // no Python code ran: nothing else was pending
        return false;
    }
    memory = view.buf;
    length = view.len;
    PyBuffer_Release(&view);
    return true;
}

// The poll of a buffer read in place: the handlers, then the memory.
Stop poll_watching(const void *watched) noexcept
{
    if (!run_signal_handlers()) {
        return Stop::handler_raised;
    }
    const auto &watch = *static_cast<const BufferWatch *>(watched);
    const void *memory = nullptr;
    Py_ssize_t length = 0;
    if (watch.exporter != nullptr && (!exported_memory(watch.exporter, memory, length) ||
                                      memory != watch.memory || length != watch.length)) {
        return Stop::buffer_changed;
    }
    return Stop::none;
}

// What a poll checks of a buffer view of `object`: the memory of a
// memoryview's own exporter (none for a view of plain memory), or of the
// object itself. Nothing when it cannot be read.
std::unique_ptr<BufferWatch> watch_of(PyObject *object, const Py_buffer &view)
{
    if (!Py_IS_TYPE(object, &PyMemoryView_Type)) {
        return std::make_unique<BufferWatch>(object, view.buf, view.len);
    }
    PyObject *exporter = PyMemoryView_GET_BUFFER(object)->obj;
    auto watch = std::make_unique<BufferWatch>(exporter, nullptr, 0);
    if (exporter != nullptr && !exported_memory(exporter, watch->memory, watch->length)) {
        return nullptr;
    }
    return watch;
}

// The items of a buffer read in place, when that gives what iteration
// would (an integer list takes no floats; an unsigned item beyond the
// signed range is found as it is read); otherwise nothing, and iteration
// reads the object.
template <class T>
Result<std::optional<ListArgument<T>>> read_in_place(PyObject *object, Stop *stop)
{
    if (!iterates_its_buffer(object)) {
        return std::nullopt;
    }
    HeldBuffer buffer = HeldBuffer::request(object, PyBUF_RECORDS_RO);
    if (!buffer) {
        // Iteration raises what applies (a released memoryview, say).
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            return unexpected_pending();
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
    std::unique_ptr<BufferWatch> watch = watch_of(object, view);
    if (!watch) {
        return std::nullopt;
    }
    Items<T> items(static_cast<const std::byte *>(view.buf), view.strides[0],
                   static_cast<std::size_t>(view.shape[0]), *format,
                   SignalPoll(poll_watching, watch.get(), stop), stop);
    return ListArgument<T>(std::move(buffer), std::move(watch), items);
}

// Where a list argument's items are read is settled here: an exact list or
// tuple as it stands while the computation walks it, a buffer of native
// numbers in its memory, any other sequence converted by iteration first.
template <class T>
Result<ListArgument<T>> to_list(PyObject *object, Stop *stop)
{
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) [[likely]] {
        return Result<ListArgument<T>>(std::in_place, Owned::borrow(object),
                                       Items<T>(live_list<T>(object), signal_poll(stop), stop));
    }
    if (PyUnicode_Check(object)) {
        return unexpected_raise(PyExc_TypeError, texts::str_is_not_a_list);
    }
    if (!PySequence_Check(object)) {
        return std::unexpected(raise_formatted(
            PyExc_TypeError, fill(texts::not_a_sequence, qualified_type_name(object))));
    }
    auto in_place = read_in_place<T>(object, stop);
    if (!in_place) {
        return std::unexpected(in_place.error());
    }
    if (*in_place) {
        return std::move(**in_place);
    }
    Owned iterator = iterate(object);
    if (!iterator) {
        return unexpected_pending();
    }
    auto chunk = std::make_unique<T[]>(Iterated<T>::chunk_size);
    const Iterated<T> iterated{iterator.get(), chunk.get(), pull_chunk<T>};
    return Result<ListArgument<T>>(std::in_place, std::move(iterator), std::move(chunk),
                                   Items<T>(iterated, signal_poll(stop), stop));
}

}  // namespace

std::string qualified_type_name(PyObject *object)
{
    Owned name = Owned::steal(PyType_GetQualName(Py_TYPE(object)));
    Py_ssize_t size = 0;
    const char *text = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return texts::unnamed_type;
    }
    return {text, static_cast<std::size_t>(size)};
}

bool to_real(PyObject *object, double &value) noexcept
{
    if (PyFloat_CheckExact(object) || PyLong_CheckExact(object)) {
        value = PyFloat_AsDouble(object);  // runs no Python code
        return value != -1.0 || PyErr_Occurred() == nullptr;
    }
    const CallingPython guard;
    if (!guard) {
        return false;
    }
    value = PyFloat_AsDouble(object);
    return value != -1.0 || PyErr_Occurred() == nullptr;
}

bool to_signed(PyObject *object, std::int64_t &value) noexcept
{
    if (PyLong_CheckExact(object)) [[likely]] {
        // Cheaper than PyLong_AsLongLong for several-digit ints; on overflow
        // the call below raises CPython's own OverflowError.
        int overflow = 0;
        const long long exact = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow == 0) {
            value = static_cast<std::int64_t>(exact);
            return true;
        }
    }
    const CallingPython guard;
    if (!guard) {
        return false;
    }
    const long long converted = PyLong_AsLongLong(object);
    value = static_cast<std::int64_t>(converted);
    return converted != -1 || PyErr_Occurred() == nullptr;
}

bool to_unsigned(PyObject *object, std::uint64_t &value) noexcept
{
    Owned index;
    if (!PyLong_Check(object)) {
        const CallingPython guard;
        if (!guard) {
            return false;
        }
        index = Owned::steal(PyNumber_Index(object));
        if (!index) {
            return false;
        }
        object = index.get();
    }
    const unsigned long long converted = PyLong_AsUnsignedLongLong(object);
    value = static_cast<std::uint64_t>(converted);
    return converted != std::numeric_limits<unsigned long long>::max() ||
           PyErr_Occurred() == nullptr;
}

Result<ListArgument<double>> to_number_list(PyObject *object, Stop *stop)
{
    return to_list<double>(object, stop);
}

Result<ListArgument<std::int64_t>> to_integer_list(PyObject *object, Stop *stop)
{
    return to_list<std::int64_t>(object, stop);
}

Owned ResultKind<int128>::to_python(int128 value)
{
    if (value >= std::numeric_limits<std::int64_t>::min() &&
        value <= std::numeric_limits<std::int64_t>::max()) {
        return ResultKind<std::int64_t>::to_python(static_cast<std::int64_t>(value));
    }
    return infallible(PyLong_FromNativeBytes(&value, sizeof value, Py_ASNATIVEBYTES_NATIVE_ENDIAN));
}

}  // namespace tesmar
