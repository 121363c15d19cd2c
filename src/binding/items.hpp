// The items of a number list or an integer list, as the binding walks them
// for a fold. Three forms, settled where the binding converts the list:
// - a run in memory: values evenly spaced (the stride may be zero or
//   negative), each converted to the fold's type as the item object's own
//   __float__ or __index__ would convert it: the memory of a buffer
//   (array.array, memoryview, bytes, bytearray, a numpy array);
// - an exact list or tuple, read by index as it stands when each item is
//   read: exact floats and small exact ints where they lie, any other item
//   through the binding's conversion (which may run Python code that
//   changes the list);
// - any other sequence, iterated as the walk goes: each item pulled and
//   converted by the binding, nothing gathered.
// Every item is read once. A read that fails stops the walk and is kept in
// the call's Stop for the binding to raise: the fold never sees it.
#pragma once

#include "binding/stop.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <tuple>
#include <type_traits>

namespace tesmar {

// How the values of a run lie in memory, or `live`: an exact list or tuple.
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

// Where an exact float keeps its type and its double, and an exact int its
// tag and its 30-bit digits: CPython 3.13's layout on a 64-bit build (the
// binding checks it against its headers). Constants, so that the walk over
// a list's numbers loads nothing more.
struct FloatLayout {
    static constexpr std::ptrdiff_t type_offset = 8;
    static constexpr std::ptrdiff_t value_offset = 16;
};
struct IntLayout {
    static constexpr std::ptrdiff_t tag_offset = 16;
    static constexpr std::ptrdiff_t digits_offset = 24;
    static constexpr unsigned digit_bits = 30;
    static constexpr unsigned tag_bits = 3;  // the sign in the low two
};

// The item array of an exact list or tuple as it stands now.
struct Boxes {
    const std::byte *first;  // the first item's address
    std::size_t size;
};

// An exact list or tuple, with the binding's means to read it (no Python in
// the walk itself).
template <class T>
struct LiveList {
    // The converting reader of item `index`, which lies within the list as
    // it stands: false when the conversion raised (*stop then says so). It
    // may run Python code, which may change the list.
    using Read = bool (*)(const void *list, std::size_t index, T &out, Stop *stop) noexcept;
    // The reader of a run of items from `first`, at most `capacity`, that
    // convert without Python code: how many it wrote, stopping before any
    // other item. An int beyond the range of T stops the walk (*stop says
    // why).
    using ReadRun = std::size_t (*)(const void *list, std::size_t first, T *out,
                                    std::size_t capacity, Stop *stop) noexcept;

    const void *object;
    Boxes (*boxes)(const void *list) noexcept;
    Read read;
    ReadRun read_run;
    const void *float_type;  // the type of an exact float
    const void *int_type;    // the type of an exact int
};

// T is double (a number list) or std::int64_t (an integer list). An integer
// list never holds floats.
// What pulling a chunk of an iterator's items gave.
struct Pulled {
    std::size_t count;  // items converted into the chunk
    bool more;          // false at the end, or when iterating or converting raised
};

// An iterator, with the binding's means to pull its items, converted, a
// chunk at a time into memory of the call's own. Pulling runs Python code.
template <class T>
struct Iterated {
    using Pull = Pulled (*)(const void *iterator, T *chunk, std::size_t capacity,
                            Stop *stop) noexcept;
    static constexpr std::size_t chunk_size = 128;
    const void *iterator;
    T *chunk;  // chunk_size items
    Pull pull;
};

template <class T>
class Items {
    static_assert(std::is_same_v<T, double> || std::is_same_v<T, std::int64_t>);

public:
    // Items between two signal polls: a fraction of a millisecond of folding.
    static constexpr std::size_t poll_interval = std::size_t{1} << 18U;

    constexpr Items() noexcept = default;
    // A run in memory, which stays put while the binding holds it.
    Items(const std::byte *first, std::ptrdiff_t stride, std::size_t size, ItemFormat format,
          SignalPoll poll, Stop *stop) noexcept
        : first_(first), stride_(stride), size_(size), format_(format), poll_(poll), stop_(stop)
    {
    }
    // An exact list or tuple.
    Items(LiveList<T> list, SignalPoll poll, Stop *stop) noexcept
        : size_(unlimited), format_(ItemFormat::live), poll_(poll), list_(list), stop_(stop)
    {
    }
    // An iterator.
    Items(Iterated<T> iterated, SignalPoll poll, Stop *stop) noexcept
        : size_(unlimited),
          format_(ItemFormat::iterated),
          poll_(poll),
          iterated_(iterated),
          stop_(stop)
    {
    }

    // Reads the first item into `item`: false when there is none, or when
    // reading it failed.
    [[nodiscard]] bool take_front(T &item) const
    {
        Items first = *this;
        first.size_ = std::min(size_, std::size_t{1});
        bool taken = false;
        first.each([&](T value) {
            item = value;
            taken = true;
        });
        return taken;
    }

    // All items but the first, once take_front has taken it.
    [[nodiscard]] Items rest() const noexcept
    {
        Items rest = *this;
        ++rest.start_;
        rest.size_ = size_ == unlimited ? unlimited : size_ - 1;
        return rest;
    }

    // Calls `visit` with every item in order. A `visit` that returns bool
    // stops visiting by returning false; the items after it are still read
    // (not visited) where reading them can fail, so whether a list is
    // readable never depends on where a computation stops. Always inlined,
    // with the walks: state that `visit` captures by reference (an
    // accumulator) then stays in a register instead of memory.
    template <class Visit>
    [[gnu::always_inline]] void each(Visit &&visit) const
    {
        if (stop_ == nullptr || *stop_ != Stop::none) {
            return;  // empty, or reading has failed already
        }
        switch (format_) {
            case ItemFormat::f64:
                return walk<ItemFormat::f64>(visit);
            case ItemFormat::f32:
                return walk<ItemFormat::f32>(visit);
            case ItemFormat::i8:
                return walk<ItemFormat::i8>(visit);
            case ItemFormat::i16:
                return walk<ItemFormat::i16>(visit);
            case ItemFormat::i32:
                return walk<ItemFormat::i32>(visit);
            case ItemFormat::i64:
                return walk<ItemFormat::i64>(visit);
            case ItemFormat::u8:
                return walk<ItemFormat::u8>(visit);
            case ItemFormat::u16:
                return walk<ItemFormat::u16>(visit);
            case ItemFormat::u32:
                return walk<ItemFormat::u32>(visit);
            case ItemFormat::u64:
                return walk<ItemFormat::u64>(visit);
            case ItemFormat::live:
                return walk_live(visit);
            case ItemFormat::iterated:
                return walk_iterated(visit);
        }
    }

private:
    static constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();
    // A run of items converted without Python code, then visited. One
    // buffer serves every walk: nothing runs Python code (nor so another
    // walk) between filling it and visiting it, and the interpreter lock
    // keeps threads apart. Not on the stack: a walk that re-enters the
    // module through an item's conversion costs no more stack for it.
    static constexpr std::size_t run_size = 128;
    inline static T run_buffer[run_size];
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
    [[gnu::always_inline]] void walk(Visit &visit) const
    {
        if constexpr (std::is_floating_point_v<NativeType<F>> && !std::is_floating_point_v<T>) {
            return;  // never so: the binding reads such a list through Python
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
                        *stop_ = Stop::item_out_of_range;
                        return;
                    }
                    if (visiting && !visit_one(visit, item)) {
                        if constexpr (!fallible<F>) {
                            return;
                        }
                        visiting = false;
                    }
                }
                if (i < size_ && !poll_()) {
                    return;
                }
            }
        }
    }

    // The address of item i of `boxes` and its type.
    [[gnu::always_inline]] static const std::byte *box_at(const Boxes &boxes, std::size_t i,
                                                          const void *&type) noexcept
    {
        const std::byte *box = nullptr;
        std::memcpy(static_cast<void *>(&box), boxes.first + i * sizeof box, sizeof box);
        std::memcpy(static_cast<void *>(&type), box + FloatLayout::type_offset, sizeof type);
        return box;
    }

    // Reads item i of `boxes` into `item` when it is an exact float.
    [[gnu::always_inline]] static bool read_float(const Boxes &boxes, std::size_t i,
                                                  const void *float_type, double &item) noexcept
    {
        const void *type = nullptr;
        const std::byte *box = box_at(boxes, i, type);
        if (type != float_type) {
            return false;
        }
        std::memcpy(&item, box + FloatLayout::value_offset, sizeof item);
        return true;
    }

    // Reads item i of `boxes` into `item` when it is an exact int of at most
    // two digits, which converts exactly (a double rounds it to nearest, as
    // float(n) does).
    [[gnu::always_inline]] static bool read_small_int(const Boxes &boxes, std::size_t i,
                                                      const void *int_type, T &item) noexcept
    {
        const void *type = nullptr;
        const std::byte *box = box_at(boxes, i, type);
        if (type != int_type) {
            return false;
        }
        std::uint64_t tag = 0;
        std::memcpy(&tag, box + IntLayout::tag_offset, sizeof tag);
        const std::uint64_t digits = tag >> IntLayout::tag_bits;
        if (digits > 2) {
            return false;
        }
        std::uint32_t digit = 0;
        std::uint64_t magnitude = 0;
        if (digits != 0) {
            std::memcpy(&digit, box + IntLayout::digits_offset, sizeof digit);
            magnitude = digit;
        }
        if (digits == 2) {
            std::memcpy(&digit, box + IntLayout::digits_offset + sizeof digit, sizeof digit);
            magnitude |= std::uint64_t{digit} << IntLayout::digit_bits;
        }
        // The sign field holds 0 (positive), 1 (zero) or 2 (negative).
        const auto sign = 1 - static_cast<std::int64_t>(tag & 3U);
        item = static_cast<T>(sign * static_cast<std::int64_t>(magnitude));
        return true;
    }

    // Exact floats and small exact ints are read where they lie: nothing
    // runs Python code meanwhile, so the list cannot change under the walk.
    // Other exact ints are converted a run at a time into run_buffer, still
    // without Python code; any other item goes through the binding's reader, one at a time
    // (it runs Python code, which may re-enter the module: nothing of the
    // walk's own is kept on the stack for it), and the item array is fetched
    // anew after it. Polls come before an item whose index is a multiple of
    // the interval, never while an item is borrowed.
    template <class Visit>
    [[gnu::always_inline]] void walk_live(Visit &visit) const
    {
        const std::size_t end = size_ == unlimited ? unlimited : start_ + size_;
        [[maybe_unused]] const void *const float_type = list_.float_type;
        const void *const int_type = list_.int_type;
        std::size_t i = start_;
        std::size_t next_poll =
            std::max(poll_interval, (i + poll_interval - 1) / poll_interval * poll_interval);
        bool visiting = true;
        for (;;) {
            const Boxes boxes = list_.boxes(list_.object);
            const std::size_t last = std::min({end, boxes.size, next_poll});
            while (i < last) {
                if constexpr (std::is_same_v<T, double>) {
                    // Floats in a loop of their own: the common case.
                    for (; i < last; ++i) {
                        double item;
                        if (!read_float(boxes, i, float_type, item)) {
                            break;
                        }
                        visiting = visiting && visit_one(visit, item);
                    }
                    if (i == last) {
                        break;
                    }
                }
                T item;
                if (!read_small_int(boxes, i, int_type, item)) {
                    break;
                }
                visiting = visiting && visit_one(visit, item);
                ++i;
            }
            if (i == end || i >= boxes.size) {
                return;
            }
            if (i == next_poll) {
                if (!poll_()) {
                    return;
                }
                next_poll += poll_interval;
                continue;
            }
            std::size_t read =
                list_.read_run(list_.object, i, run_buffer, std::min(run_size, last - i), stop_);
            if (read == 0 && *stop_ == Stop::none) {
                // Python code converts it, and may use the buffer meanwhile.
                T item{};
                if (list_.read(list_.object, i, item, stop_)) {
                    run_buffer[0] = item;
                    read = 1;
                }
            }
            for (std::size_t k = 0; k < read; ++k) {
                visiting = visiting && visit_one(visit, run_buffer[k]);
            }
            i += read;
            if (*stop_ != Stop::none) {
                return;
            }
        }
    }

    // Pulls a chunk of items, then visits them: the chunk is the call's
    // own, so Python code run by a pull (which may re-enter the module)
    // never finds it in use. Polls come before an item whose index is a
    // multiple of the interval.
    template <class Visit>
    [[gnu::always_inline]] void walk_iterated(Visit &visit) const
    {
        bool visiting = true;
        std::size_t i = start_;
        const std::size_t end = size_ == unlimited ? unlimited : start_ + size_;
        for (;;) {
            if (i % poll_interval == 0 && i != 0 && !poll_()) {
                return;
            }
            const std::size_t next_poll = (i / poll_interval + 1) * poll_interval;
            const std::size_t capacity =
                std::min({Iterated<T>::chunk_size, next_poll - i, end - i});
            const Pulled pulled =
                iterated_.pull(iterated_.iterator, iterated_.chunk, capacity, stop_);
            for (std::size_t k = 0; k < pulled.count; ++k) {
                visiting = visiting && visit_one(visit, iterated_.chunk[k]);
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
    std::size_t size_ = 0;   // a live list: at most this many, or unlimited
    ItemFormat format_ = ItemFormat::f64;
    SignalPoll poll_;
    LiveList<T> list_{};
    Iterated<T> iterated_{};
    Stop *stop_ = nullptr;
};

using NumberItems = Items<double>;
using IntegerItems = Items<std::int64_t>;

}  // namespace tesmar
