// The items of a number list or an integer list, read where they lie: a
// run of values evenly spaced in memory (the stride may be zero or
// negative), each converted to the computation's type as the item object's
// own __float__ or __index__ would convert it. The vector that the binding
// fills from a sequence, the memory of a buffer (array.array, memoryview,
// bytes, bytearray, a numpy array) and the item array of an exact list of
// floats are all such runs, so a computation reads any of them without a
// copy. Every item is read from memory once.
#pragma once

#include "binding/outcome.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <tuple>
#include <type_traits>

namespace tesmar {

// How each value of a run is laid out in memory. A boxed double is the
// address of an object that holds the double at a fixed offset (an exact
// float of a list).
enum class ItemFormat : std::uint8_t {
    boxed_f64,
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
};

// The native type of each format, in the order of ItemFormat.
using NativeTypes =
    std::tuple<double, double, float, std::int8_t, std::int16_t, std::int32_t, std::int64_t,
               std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t>;
static_assert(std::tuple_size_v<NativeTypes> == static_cast<std::size_t>(ItemFormat::u64) + 1);
template <ItemFormat F>
using NativeType = std::tuple_element_t<static_cast<std::size_t>(F), NativeTypes>;

// Where the boxes of a boxed run keep their type and their double.
struct BoxLayout {
    const void *type;  // the exact type every box must have
    std::ptrdiff_t type_offset;
    std::ptrdiff_t value_offset;
};

// T is double (a number list) or std::int64_t (an integer list). An integer
// list never holds floats.
template <class T>
class Items {
    static_assert(std::is_same_v<T, double> || std::is_same_v<T, std::int64_t>);

public:
    // Items between two signal polls: a fraction of a millisecond of folding.
    static constexpr std::size_t poll_interval = std::size_t{1} << 18U;

    constexpr Items() noexcept = default;
    // A vector of the binding's own.
    Items(std::span<const T> values, SignalPoll poll) noexcept
        : first_(reinterpret_cast<const std::byte *>(values.data())),
          stride_(sizeof(T)),
          size_(values.size()),
          format_(std::is_same_v<T, double> ? ItemFormat::f64 : ItemFormat::i64),
          poll_(poll)
    {
    }
    // A buffer's memory, which stays put while its view is held.
    Items(const std::byte *first, std::ptrdiff_t stride, std::size_t size, ItemFormat format,
          SignalPoll poll) noexcept
        : first_(first), stride_(stride), size_(size), format_(format), poll_(poll)
    {
    }
    // Boxed doubles: `size` addresses from `first` on. These are a list's
    // own items, borrowed: a poll could run code that changes the list, so
    // this walk never polls (the list's length is bounded by the memory it
    // holds). A box of another type is an item that cannot be read here.
    Items(const std::byte *first, std::size_t size, BoxLayout boxes) noexcept
        : first_(first),
          stride_(sizeof(const std::byte *)),
          size_(size),
          format_(ItemFormat::boxed_f64),
          boxes_(boxes)
    {
    }

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] bool empty() const noexcept { return size_ == 0; }

    // The first item; the run must not be empty.
    [[nodiscard]] Outcome<T> front() const
    {
        Items first = *this;
        first.size_ = 1;
        T value{};
        if (auto walked = first.each([&](T item) { value = item; }); !walked) {
            return std::unexpected(walked.error());
        }
        return value;
    }

    // All items but the first; the run must not be empty.
    [[nodiscard]] Items rest() const noexcept
    {
        Items rest = *this;
        rest.offset_ += stride_;
        --rest.size_;
        return rest;
    }

    // Calls `visit` with every item in order. A `visit` that returns bool
    // stops visiting by returning false; the items after it are still
    // checked (not visited), so whether the list can be read here never
    // depends on where a computation stops. Errors: not_in_place for an
    // item that cannot be read here, interrupted when a poll fails. Always
    // inlined, with the walks: state that `visit` captures by reference (an
    // accumulator) then stays in a register instead of memory.
    template <class Visit>
    [[gnu::always_inline]] Outcome<void> each(Visit &&visit) const
    {
        switch (format_) {
            case ItemFormat::boxed_f64:
                return walk<ItemFormat::boxed_f64>(visit);
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
        }
        return {};
    }

    // Folds `step(acc, item)` over every item.
    template <class Acc, class Step>
    [[gnu::always_inline]] Outcome<Acc> fold(Acc acc, Step step) const
    {
        if (auto walked = each([&](T item) { acc = step(acc, item); }); !walked) {
            return std::unexpected(walked.error());
        }
        return acc;
    }

private:
    // Formats whose items are checked as they are read: boxes must be
    // floats, and an integer list takes no unsigned value above 2**63 - 1.
    template <ItemFormat F>
    static constexpr bool checked =
        F == ItemFormat::boxed_f64 || (F == ItemFormat::u64 && std::is_same_v<T, std::int64_t>);

    // Reads item i into `item`; false when it cannot be read here.
    template <ItemFormat F>
    [[gnu::always_inline]] bool read(std::size_t i, T &item) const noexcept
    {
        using Native = NativeType<F>;
        Native raw;
        // memcpy: buffers need not be aligned.
        const std::byte *at = first_ + (offset_ + static_cast<std::ptrdiff_t>(i) * stride_);
        if constexpr (F == ItemFormat::boxed_f64) {
            const std::byte *box = nullptr;
            std::memcpy(static_cast<void *>(&box), at, sizeof box);
            const void *type = nullptr;
            std::memcpy(static_cast<void *>(&type), box + boxes_.type_offset, sizeof type);
            if (type != boxes_.type) {
                return false;
            }
            at = box + boxes_.value_offset;
        }
        std::memcpy(&raw, at, sizeof raw);
        if constexpr (F == ItemFormat::u64 && checked<F>) {  // an integer list
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
    [[gnu::always_inline]] Outcome<void> walk(Visit &visit) const
    {
        if constexpr (std::is_floating_point_v<NativeType<F>> && !std::is_floating_point_v<T>) {
            return {};  // never so: the binding reads such a list through Python
        }
        else {
            // Between two polls a chunk runs with no other test per item.
            const std::size_t chunk = poll_ != nullptr ? poll_interval : size_;
            bool visiting = true;
            std::size_t i = 0;
            while (i < size_) {
                const std::size_t end = i + std::min(chunk, size_ - i);
                for (; i < end; ++i) {
                    T item;
                    if (!read<F>(i, item)) [[unlikely]] {
                        return not_in_place();
                    }
                    if constexpr (std::is_same_v<decltype(visit(item)), bool>) {
                        if (visiting && !visit(item)) {
                            if constexpr (!checked<F>) {
                                return {};
                            }
                            visiting = false;
                        }
                    }
                    else {
                        visit(item);
                    }
                }
                if (i < size_ && !poll_()) {
                    return interrupted();
                }
            }
            return {};
        }
    }

    const std::byte *first_ = nullptr;
    // Where the run starts, from first_: an address is only ever formed for
    // an item that exists, whatever the stride's sign.
    std::ptrdiff_t offset_ = 0;
    std::ptrdiff_t stride_ = 0;
    std::size_t size_ = 0;
    ItemFormat format_ = ItemFormat::f64;
    SignalPoll poll_ = nullptr;  // null: never polls
    BoxLayout boxes_{};
};

using NumberItems = Items<double>;
using IntegerItems = Items<std::int64_t>;

}  // namespace tesmar
