// The items of a number list or an integer list, as the binding walks them
// for a fold. Three forms, settled where the binding converts the list:
// - a run in memory: values evenly spaced (the stride may be zero or
//   negative), each converted to the fold's type as the item object's own
//   __float__ or __index__ would convert it: the memory of a buffer
//   (array.array, memoryview, bytes, bytearray, a numpy array);
// - an exact list or tuple, read by index as it stands when each item is
//   read: exact floats and small exact ints where they lie, any other item
//   converted (which may run Python code that changes the list);
// - any other sequence, iterated as the walk goes: a chunk of items pulled
//   and converted at a time, nothing gathered.
// Every item is read once. A read that fails, or a signal handler that
// raises, ends the walk with its failure: the fold's result is dropped.
#pragma once

#include "binding/convert.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tesmar {

// How the values of a run lie in memory, or where the items come from
// otherwise: an exact list or tuple (`live`), an iterator (`iterated`).
enum class ItemFormat : std::uint8_t {
    f64,
    f32,
    i8,
    i16,
    i32,
    i64,
    u8,
    u16,
    u32,
    u64,
    live,
    iterated,
};

// The native type of each format of a run, in the order of ItemFormat.
using NativeTypes = std::tuple<double, float, std::int8_t, std::int16_t, std::int32_t, std::int64_t,
                               std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t>;
static_assert(std::tuple_size_v<NativeTypes> == static_cast<std::size_t>(ItemFormat::live));
template <ItemFormat F>
using NativeType = std::tuple_element_t<static_cast<std::size_t>(F), NativeTypes>;

// The memory of the object that exports a buffer read in place, as it was
// when reading began. An exporter may move or free it while it is
// exported (numpy's resize with refcheck=False does), and a signal handler
// may do so in the middle of the walk: each poll checks it is still there.
struct BufferWatch {
    PyObject *exporter;  // kept alive by the held view
    const void *memory;
    Py_ssize_t length;
};

// The failure that ends a walk, once there is one, which the walk's
// readers below record. They are never inlined: what they hold then stays
// out of the walk's loops, which keep a fold's accumulator in a register.
using WalkFailure = std::optional<Failure>;

// The signal poll of a walk: false once a handler raised.
[[nodiscard, gnu::noinline]] bool poll_signals(WalkFailure &failed) noexcept;
// The poll of a buffer read in place: the signal handlers, then the memory.
[[nodiscard, gnu::noinline]] bool poll_watching(const BufferWatch &watch,
                                                WalkFailure &failed) noexcept;
// An unsigned item above 2**63 - 1 in an integer list.
[[gnu::cold, gnu::noinline]] void item_out_of_range(WalkFailure &failed) noexcept;

// Item `index` of an exact list or tuple, which lies within it, converted
// into `item`; it is held meanwhile, as the conversion may run Python code.
// False when it failed, naming the argument `name`.
template <class T>
[[nodiscard, gnu::noinline]] bool convert_item(PyObject *list, std::size_t index, T &item,
                                               std::string_view name, WalkFailure &failed) noexcept;

// What pulling a chunk of an iterator's items gave.
struct Pulled {
    std::size_t count;  // items converted into the chunk
    bool more;          // false at the end, or once pulling failed
};

// Pulls at most `capacity` items of the iterator and converts them into
// `chunk`; it runs Python code (__next__ and the conversions). A failure
// names the argument `name` and ends the pulling.
template <class T>
[[nodiscard, gnu::noinline]] Pulled pull_chunk(PyObject *iterator, T *chunk, std::size_t capacity,
                                               std::string_view name, WalkFailure &failed) noexcept;

// T is double (a number list) or std::int64_t (an integer list). An integer
// list never holds floats.
template <class T>
class Items {
    static_assert(std::is_same_v<T, double> || std::is_same_v<T, std::int64_t>);

public:
    // Items between two signal polls: a fraction of a millisecond of folding.
    static constexpr std::size_t poll_interval = std::size_t{1} << 18U;
    // An iterator's items pulled at a time.
    static constexpr std::size_t chunk_size = 128;

    constexpr Items() noexcept = default;
    // A run in memory, which stays put while the binding holds it.
    Items(const std::byte *first, std::ptrdiff_t stride, std::size_t size, ItemFormat format,
          const BufferWatch *watch) noexcept
        : first_(first), stride_(stride), size_(size), format_(format), watch_(watch)
    {
    }
    // An exact list or tuple, the argument `name`.
    Items(PyObject *list, std::string_view name) noexcept
        : size_(unlimited), format_(ItemFormat::live), object_(list), name_(name)
    {
    }
    // An iterator, the argument `name`, and memory of the call's own for a
    // chunk of its items.
    Items(PyObject *iterator, T *chunk, std::string_view name) noexcept
        : size_(unlimited),
          format_(ItemFormat::iterated),
          object_(iterator),
          chunk_(chunk),
          name_(name)
    {
    }

    // The first item alone.
    [[nodiscard]] Items front() const noexcept
    {
        Items first = *this;
        first.size_ = std::min(size_, std::size_t{1});
        return first;
    }

    // All items but the first, once the first has been read.
    [[nodiscard]] Items rest() const noexcept
    {
        Items rest = *this;
        ++rest.start_;
        rest.size_ = size_ == unlimited ? unlimited : size_ - 1;
        return rest;
    }

    // Calls `visit` with every item in order, or fails. A `visit` that
    // returns bool stops visiting by returning false; the items after it
    // are still read (not visited) where reading them can fail, so whether
    // a list is readable never depends on where a computation stops.
    // Always inlined, with the walks: state that `visit` captures by
    // reference (an accumulator) then stays in a register.
    template <class Visit>
    [[gnu::always_inline]] Result<void> each(Visit &&visit) const
    {
        WalkFailure failed;
        walk_any(visit, failed);
        if (failed) [[unlikely]] {
            return std::unexpected(std::move(*failed));
        }
        return {};
    }

private:
    template <class Visit>
    [[gnu::always_inline]] void walk_any(Visit &visit, WalkFailure &failed) const
    {
        if (format_ == ItemFormat::live) {
            return walk_live(visit, failed);
        }
        if (format_ == ItemFormat::iterated) {
            return walk_iterated(visit, failed);
        }
        // A run: the walk for its format, one for each (the compiler makes
        // the tests a jump table).
        [&]<std::size_t... F> [[gnu::always_inline]] (std::index_sequence<F...>) {
            static_cast<void>(((format_ == static_cast<ItemFormat>(F) &&
                                (walk<static_cast<ItemFormat>(F)>(visit, failed), true)) ||
                               ...));
        }(std::make_index_sequence<std::tuple_size_v<NativeTypes>>{});
    }

    static constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();
    // Formats whose items can fail to read: an integer list takes no
    // unsigned value above 2**63 - 1.
    template <ItemFormat F>
    static constexpr bool fallible = F == ItemFormat::u64 && std::is_same_v<T, std::int64_t>;

    // Visits one item; false once visiting is over.
    template <class Visit>
    [[gnu::always_inline]] static bool visit_one(Visit &visit, T item)
    {
        if constexpr (std::is_same_v<decltype(visit(item)), bool>) {
            return visit(item);
        }
        else {
            visit(item);
            return true;
        }
    }

    // Reads item i of a run into `item`; false when it lies beyond the range.
    template <ItemFormat F>
    [[gnu::always_inline]] bool read(std::size_t i, T &item) const noexcept
    {
        using Native = NativeType<F>;
        Native raw;
        // memcpy: buffers need not be aligned.
        std::memcpy(&raw, first_ + static_cast<std::ptrdiff_t>(start_ + i) * stride_, sizeof raw);
        if constexpr (fallible<F>) {
            if (raw > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return false;
            }
        }
        // Integers convert to double rounding to nearest, as float(n) does;
        // floats widen exactly. (Signed chars here are 8-bit numbers, not
        // characters.)
        item = static_cast<T>(raw);  // NOLINT(bugprone-signed-char-misuse)
        return true;
    }

    template <ItemFormat F, class Visit>
    [[gnu::always_inline]] void walk(Visit &visit, WalkFailure &failed) const
    {
        if constexpr (std::is_floating_point_v<NativeType<F>> && !std::is_floating_point_v<T>) {
            return;  // never so: the binding reads such a list by iteration
        }
        else {
            // Between two polls a chunk runs with no other test per item.
            bool visiting = true;
            std::size_t i = 0;
            while (i < size_) {
                const std::size_t end = i + std::min(poll_interval, size_ - i);
                for (; i < end; ++i) {
                    T item;
                    if (!read<F>(i, item)) [[unlikely]] {
                        item_out_of_range(failed);
                        return;
                    }
                    if (visiting && !visit_one(visit, item)) {
                        if constexpr (!fallible<F>) {
                            return;
                        }
                        visiting = false;
                    }
                }
                if (i < size_ && !poll_watching(*watch_, failed)) [[unlikely]] {
                    return;
                }
            }
        }
    }

    // Exact floats and small exact ints are read where they lie: nothing
    // runs Python code meanwhile, so the list cannot change under the walk.
    // Any other item is converted out of line, one at a time (Python code
    // may run, and re-enter the module: nothing of the walk's own is kept
    // on the stack for it), and the item array is fetched anew after it.
    // Polls come before an item whose index is a multiple of the interval,
    // never while an item is borrowed.
    template <class Visit>
    [[gnu::always_inline]] void walk_live(Visit &visit, WalkFailure &failed) const
    {
        const std::size_t end = size_ == unlimited ? unlimited : start_ + size_;
        std::size_t i = start_;
        std::size_t next_poll =
            std::max(poll_interval, (i + poll_interval - 1) / poll_interval * poll_interval);
        bool visiting = true;
        for (;;) {
            PyObject *const *boxes = PySequence_Fast_ITEMS(object_);
            const auto size = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object_));
            const std::size_t last = std::min({end, size, next_poll});
            while (i < last) {
                if constexpr (std::is_same_v<T, double>) {
                    // Floats in a loop of their own: the common case.
                    for (; i < last && PyFloat_CheckExact(boxes[i]); ++i) {
                        visiting = visiting && visit_one(visit, PyFloat_AS_DOUBLE(boxes[i]));
                    }
                    if (i == last) {
                        break;
                    }
                }
                std::int64_t integer = 0;
                if (!read_exact(boxes[i], integer)) {
                    break;
                }
                // A double rounds it to nearest, as float(n) does.
                visiting = visiting && visit_one(visit, static_cast<T>(integer));
                ++i;
            }
            if (i == end || i >= size) {
                return;
            }
            if (i == next_poll) {
                if (!poll_signals(failed)) {
                    return;
                }
                next_poll += poll_interval;
                continue;
            }
            T item{};
            if (!convert_item(object_, i, item, name_, failed)) [[unlikely]] {
                return;
            }
            visiting = visiting && visit_one(visit, item);
            ++i;
        }
    }

    // Pulls a chunk of items, then visits them: the chunk is the call's
    // own, so Python code run by a pull (which may re-enter the module)
    // never finds it in use. Polls come before an item whose index is a
    // multiple of the interval.
    template <class Visit>
    [[gnu::always_inline]] void walk_iterated(Visit &visit, WalkFailure &failed) const
    {
        bool visiting = true;
        std::size_t i = start_;
        const std::size_t end = size_ == unlimited ? unlimited : start_ + size_;
        for (;;) {
            if (i % poll_interval == 0 && i != 0 && !poll_signals(failed)) {
                return;
            }
            const std::size_t next_poll = (i / poll_interval + 1) * poll_interval;
            const std::size_t capacity = std::min({chunk_size, next_poll - i, end - i});
            const Pulled pulled = pull_chunk(object_, chunk_, capacity, name_, failed);
            if (failed) [[unlikely]] {
                return;
            }
            for (std::size_t k = 0; k < pulled.count; ++k) {
                visiting = visiting && visit_one(visit, chunk_[k]);
            }
            i += pulled.count;
            if (!pulled.more || i == end) {
                return;
            }
        }
    }

    const std::byte *first_ = nullptr;
    std::ptrdiff_t stride_ = 0;
    std::size_t start_ = 0;  // the items before it are not these items
    std::size_t size_ = 0;   // a list or an iterator: at most this many, or unlimited
    ItemFormat format_ = ItemFormat::f64;
    const BufferWatch *watch_ = nullptr;
    PyObject *object_ = nullptr;  // the list or the iterator
    T *chunk_ = nullptr;          // chunk_size items
    std::string_view name_;       // the argument's, for a conversion's TypeError
};

using NumberItems = Items<double>;
using IntegerItems = Items<std::int64_t>;

// A buffer view, released with the handle. The view lives on the heap and
// never moves: an exporter may point its shape and strides into it
// (array.array does).
struct ViewRelease {
    void operator()(Py_buffer *view) const noexcept
    {
        PyBuffer_Release(view);
        delete view;  // NOLINT(cppcoreguidelines-owning-memory)
    }
};
using HeldBuffer = std::unique_ptr<Py_buffer, ViewRelease>;

// A list argument's items and what keeps them alive for the call: the
// buffer they lie in, or the exact list or tuple or the iterator read
// (Python code run while it is read may drop the caller's reference).
// Moving keeps the items where they are: a buffer's memory stays with its
// exporter, the watch and the chunk on the heap.
template <class T>
struct ListArgument {
    HeldBuffer buffer;
    std::unique_ptr<BufferWatch> watch;  // a buffer's, which its items poll
    Owned read;                          // the list, tuple or iterator
    std::unique_ptr<T[]> chunk;          // an iterator's items, a chunk at a time
    Items<T> items;
};

// A number list and an integer list: a sequence other than str. A failure
// names the argument `name`, as reading its items later does.
[[nodiscard]] Result<ListArgument<double>> to_number_list(PyObject *object, std::string_view name);
[[nodiscard]] Result<ListArgument<std::int64_t>> to_integer_list(PyObject *object,
                                                                 std::string_view name);

}  // namespace tesmar
