#include "binding/items.hpp"
#include "binding/kinds.hpp"
#include "binding/texts.hpp"

#include <array>
#include <bit>
#include <cctype>
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

namespace tesmar {
namespace {

// PyFloat_AsDouble's value, or its failure.
Result<double> as_double(PyObject *object)
{
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
        return fail_with_raised();
    }
    return value;
}

template <class T>
Result<T> to_native(PyObject *object)
{
    if constexpr (std::is_same_v<T, double>) {
        return to_real(object);
    }
    else {
        return to_signed(object);
    }
}

// An iterator over the object, to be pulled as the walk goes. The length
// is asked for first, as a hint that nothing needs any more: a failing
// __len__ is ignored, unless it raised KeyboardInterrupt or SystemExit.
Result<Owned> iterate(PyObject *object)
{
    const CallingPython guard;  // __len__ and __iter__ run Python code
    if (!guard) {
        return fail_with_raised();
    }
    if (PySequence_Size(object) < 0) {
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            return fail_with_raised();
        }
        PyErr_Clear();
    }
    Owned iterator = Owned::steal(PyObject_GetIter(object));
    if (!iterator) {
        return fail_with_raised();
    }
    return iterator;
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

// The format of a one-dimensional buffer's items, when it is one native
// number per item that iterates as int or float: the struct code of an
// integer of 8 to 64 bits, float or double, in native order and size (bool,
// char, pointers and half floats are left to iteration).
std::optional<ItemFormat> item_format(const Py_buffer &view) noexcept
{
    std::string_view format = view.format == nullptr ? "B" : view.format;
    if (format.starts_with('@')) {
        format.remove_prefix(1);
    }
    constexpr std::string_view codes = "bBhHiIlLqQnNfd";
    constexpr std::array<std::size_t, codes.size()> sizes = {1,
                                                             1,
                                                             sizeof(short),
                                                             sizeof(short),
                                                             sizeof(int),
                                                             sizeof(int),
                                                             sizeof(long),
                                                             sizeof(long),
                                                             sizeof(long long),
                                                             sizeof(long long),
                                                             sizeof(Py_ssize_t),
                                                             sizeof(std::size_t),
                                                             4,
                                                             8};
    const std::size_t code = format.size() == 1 ? codes.find(format.front()) : codes.npos;
    if (view.ndim != 1 || code == codes.npos || std::cmp_not_equal(sizes[code], view.itemsize)) {
        return std::nullopt;
    }
    const auto size_rank = static_cast<unsigned>(std::countr_zero(sizes[code]));  // of 1, 2, 4, 8
    if (format.front() == 'f' || format.front() == 'd') {
        return size_rank == 2 ? ItemFormat::f32 : ItemFormat::f64;
    }
    const bool is_signed = std::islower(static_cast<unsigned char>(format.front())) != 0;
    return static_cast<ItemFormat>(
        static_cast<unsigned>(is_signed ? ItemFormat::i8 : ItemFormat::u8) + size_rank);
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
Result<std::optional<ListArgument<T>>> read_in_place(PyObject *object)
{
    if (!iterates_its_buffer(object)) {
        return std::nullopt;
    }
    auto view = std::make_unique<Py_buffer>();
    if (PyObject_GetBuffer(object, view.get(), PyBUF_RECORDS_RO) < 0) {
        // Iteration raises what applies (a released memoryview, say).
        if (PyErr_ExceptionMatches(PyExc_Exception) == 0) {
            return fail_with_raised();
        }
        PyErr_Clear();
        return std::nullopt;
    }
    HeldBuffer buffer(view.release());
    const std::optional<ItemFormat> format = item_format(*buffer);
    if (!format ||
        (std::is_integral_v<T> && (*format == ItemFormat::f64 || *format == ItemFormat::f32))) {
        return std::nullopt;
    }
    std::unique_ptr<BufferWatch> watch = watch_of(object, *buffer);
    if (!watch) {
        return std::nullopt;
    }
    const Items<T> items(static_cast<const std::byte *>(buffer->buf), buffer->strides[0],
                         static_cast<std::size_t>(buffer->shape[0]), *format, watch.get());
    return ListArgument<T>{std::move(buffer), std::move(watch), {}, {}, items};
}

// Where a list argument's items are read is settled here: an exact list or
// tuple as it stands while the walk goes, a buffer of native numbers in its
// memory, any other sequence by iteration as the walk goes.
template <class T>
Result<ListArgument<T>> to_list(PyObject *object, std::string_view name)
{
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) [[likely]] {
        return ListArgument<T>{{}, {}, Owned::borrow(object), {}, Items<T>(object, name)};
    }
    if (PyUnicode_Check(object)) {
        return std::unexpected(
            name_argument(Failure::of(PyExc_TypeError, texts::str_is_not_a_list), name));
    }
    if (!PySequence_Check(object)) {
        return std::unexpected(name_argument(
            Failure::of(PyExc_TypeError, fill(texts::not_a_sequence, qualified_type_name(object))),
            name));
    }
    auto in_place = read_in_place<T>(object);
    if (!in_place) {
        return std::unexpected(std::move(in_place).error());
    }
    if (*in_place) {
        return std::move(**in_place);
    }
    auto iterator = iterate(object);
    if (!iterator) {
        return std::unexpected(name_argument(std::move(iterator).error(), name));
    }
    auto chunk = std::make_unique<T[]>(Items<T>::chunk_size);
    const Items<T> items(iterator->get(), chunk.get(), name);
    return ListArgument<T>{{}, {}, std::move(*iterator), std::move(chunk), items};
}

}  // namespace

template <class T>
bool convert_item(PyObject *list, std::size_t index, T &item, std::string_view name,
                  WalkFailure &failed) noexcept
{
    const Owned held =
        Owned::borrow(PySequence_Fast_GET_ITEM(list, static_cast<Py_ssize_t>(index)));
    auto converted = to_native<T>(held.get());
    if (!converted) {
        failed = name_argument(std::move(converted).error(), name);
        return false;
    }
    item = *converted;
    return true;
}
template bool convert_item(PyObject *list, std::size_t index, double &item, std::string_view name,
                           WalkFailure &failed) noexcept;
template bool convert_item(PyObject *list, std::size_t index, std::int64_t &item,
                           std::string_view name, WalkFailure &failed) noexcept;

template <class T>
Pulled pull_chunk(PyObject *iterator, T *chunk, std::size_t capacity, std::string_view name,
                  WalkFailure &failed) noexcept
{
    const CallingPython guard;
    if (!guard) {
        failed = Failure::fetch();
        return {0, false};
    }
    const iternextfunc next = Py_TYPE(iterator)->tp_iternext;
    for (std::size_t k = 0; k < capacity; ++k) {
        const Owned item = Owned::steal(next(iterator));
        if (!item) {
            if (PyErr_Occurred() != nullptr) {
                if (PyErr_ExceptionMatches(PyExc_StopIteration) == 0) {
                    failed = name_argument(Failure::fetch(), name);
                    return {k, false};
                }
                PyErr_Clear();
            }
            return {k, false};
        }
        if (!read_exact(item.get(), chunk[k])) {
            auto converted = to_native<T>(item.get());
            if (!converted) {
                failed = name_argument(std::move(converted).error(), name);
                return {k, false};
            }
            chunk[k] = *converted;
        }
    }
    return {capacity, true};
}
template Pulled pull_chunk(PyObject *iterator, double *chunk, std::size_t capacity,
                           std::string_view name, WalkFailure &failed) noexcept;
template Pulled pull_chunk(PyObject *iterator, std::int64_t *chunk, std::size_t capacity,
                           std::string_view name, WalkFailure &failed) noexcept;

bool poll_signals(WalkFailure &failed) noexcept
{
    if (auto handled = run_signal_handlers(); !handled) {
        failed = std::move(handled).error();
        return false;
    }
    return true;
}

bool poll_watching(const BufferWatch &watch, WalkFailure &failed) noexcept
{
    if (!poll_signals(failed)) {
        return false;
    }
    const void *memory = nullptr;
    Py_ssize_t length = 0;
    if (watch.exporter != nullptr && (!exported_memory(watch.exporter, memory, length) ||
                                      memory != watch.memory || length != watch.length)) {
        failed = Failure::of(PyExc_BufferError, texts::buffer_changed);
        return false;
    }
    return true;
}

void item_out_of_range(WalkFailure &failed) noexcept
{
    failed = Failure::of(PyExc_OverflowError, texts::int_too_big);
}

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

Result<double> to_real(PyObject *object)
{
    if (PyFloat_CheckExact(object) || PyLong_CheckExact(object)) {
        return as_double(object);  // runs no Python code
    }
    const CallingPython guard;
    if (!guard) {
        return fail_with_raised();
    }
    return as_double(object);
}

Result<std::int64_t> to_signed(PyObject *object)
{
    if (PyLong_CheckExact(object)) [[likely]] {
        // Cheaper than PyLong_AsLongLong for several-digit ints; on overflow
        // the call below raises CPython's own OverflowError.
        int overflow = 0;
        const long long exact = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow == 0) {
            return static_cast<std::int64_t>(exact);
        }
    }
    const CallingPython guard;
    if (!guard) {
        return fail_with_raised();
    }
    const long long converted = PyLong_AsLongLong(object);
    if (converted == -1 && PyErr_Occurred() != nullptr) {
        return fail_with_raised();
    }
    return static_cast<std::int64_t>(converted);
}

Result<std::uint64_t> to_unsigned(PyObject *object)
{
    Owned index;
    if (!PyLong_Check(object)) {
        const CallingPython guard;
        if (!guard) {
            return fail_with_raised();
        }
        index = Owned::steal(PyNumber_Index(object));
        if (!index) {
            return fail_with_raised();
        }
        object = index.get();
    }
    const unsigned long long converted = PyLong_AsUnsignedLongLong(object);
    if (converted == std::numeric_limits<unsigned long long>::max() &&
        PyErr_Occurred() != nullptr) {
        return fail_with_raised();
    }
    return static_cast<std::uint64_t>(converted);
}

Result<ListArgument<double>> to_number_list(PyObject *object, std::string_view name)
{
    return to_list<double>(object, name);
}

Result<ListArgument<std::int64_t>> to_integer_list(PyObject *object, std::string_view name)
{
    return to_list<std::int64_t>(object, name);
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
