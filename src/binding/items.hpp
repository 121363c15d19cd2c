// The items of a number list or an integer list, read where they lie: a
// run of stored values, evenly spaced in memory (the stride may be zero or
// negative), each converted to the computation's type as the item object's
// own __float__ or __index__ would convert it. The vector that the binding
// fills from a sequence and the memory of a buffer (array.array,
// memoryview, bytes, bytearray, a numpy array) are both such runs, so a
// computation reads either without copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>
#include <type_traits>

namespace tesmar {

// How the values of a run are stored. A boxed double is the address of an
// object that holds the double at a fixed offset (an exact float of a list).
enum class Stored : std::uint8_t {
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

// The native type of each way of storing, in the order of Stored.
using StoredTypes =
    std::tuple<double, double, float, std::int8_t, std::int16_t, std::int32_t, std::int64_t,
               std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t>;
static_assert(std::tuple_size_v<StoredTypes> == static_cast<std::size_t>(Stored::u64) + 1);
template <Stored S>
using StoredType = std::tuple_element_t<static_cast<std::size_t>(S), StoredTypes>;

// T is double (a number list) or std::int64_t (an integer list). An integer
// list never holds floats, nor unsigned 64-bit values above 2**63 - 1: the
// binding reads those through Python, which raises.
template <class T>
class Items {
    static_assert(std::is_same_v<T, double> || std::is_same_v<T, std::int64_t>);

public:
    constexpr Items() noexcept = default;
    Items(std::span<const T> values) noexcept
        : first_(reinterpret_cast<const std::byte *>(values.data())),
          stride_(sizeof(T)),
          size_(values.size()),
          stored_(std::is_same_v<T, double> ? Stored::f64 : Stored::i64)
    {
    }
    Items(const std::byte *first, std::ptrdiff_t stride, std::size_t size, Stored stored) noexcept
        : first_(first), stride_(stride), size_(size), stored_(stored)
    {
    }
    // Boxed doubles: `size` addresses from `first` on, each of an object
    // holding its double `box_offset` bytes in.
    Items(const std::byte *first, std::size_t size, std::ptrdiff_t box_offset) noexcept
        : first_(first),
          stride_(sizeof(const std::byte *)),
          size_(size),
          stored_(Stored::boxed_f64),
          box_offset_(box_offset)
    {
    }

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] bool empty() const noexcept { return size_ == 0; }

    // The first item; the run must not be empty.
    [[nodiscard]] T front() const noexcept
    {
        T value{};
        each([&](T item) {
            value = item;
            return false;
        });
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
    // stops the walk by returning false, and then each() returns false.
    // The stored type is looked up once, so each type gets a loop of its
    // own.
    template <class Visit>
    bool each(Visit &&visit) const
    {
        switch (stored_) {
            case Stored::boxed_f64:
                return walk<Stored::boxed_f64>(visit);
            case Stored::f64:
                return walk<Stored::f64>(visit);
            case Stored::f32:
                return walk<Stored::f32>(visit);
            case Stored::i8:
                return walk<Stored::i8>(visit);
            case Stored::i16:
                return walk<Stored::i16>(visit);
            case Stored::i32:
                return walk<Stored::i32>(visit);
            case Stored::i64:
                return walk<Stored::i64>(visit);
            case Stored::u8:
                return walk<Stored::u8>(visit);
            case Stored::u16:
                return walk<Stored::u16>(visit);
            case Stored::u32:
                return walk<Stored::u32>(visit);
            case Stored::u64:
                return walk<Stored::u64>(visit);
        }
        return true;
    }

private:
    template <Stored S, class Visit>
    bool walk(Visit &visit) const
    {
        using Native = StoredType<S>;
        if constexpr (std::is_floating_point_v<Native> && !std::is_floating_point_v<T>) {
            return true;  // never stored in an integer list
        }
        else {
            for (std::size_t i = 0; i < size_; ++i) {
                Native raw;
                // memcpy: buffers need not be aligned.
                const std::byte *stored =
                    first_ + (offset_ + static_cast<std::ptrdiff_t>(i) * stride_);
                if constexpr (S == Stored::boxed_f64) {
                    const std::byte *box = nullptr;
                    std::memcpy(static_cast<void *>(&box), stored, sizeof box);
                    stored = box + box_offset_;
                }
                std::memcpy(&raw, stored, sizeof raw);
                // Integers convert to double rounding to nearest, as
                // float(n) does; floats widen exactly. (Signed chars here are
                // 8-bit numbers, not characters.)
                const auto item = static_cast<T>(raw);  // NOLINT(bugprone-signed-char-misuse)
                if constexpr (std::is_same_v<decltype(visit(item)), bool>) {
                    if (!visit(item)) {
                        return false;
                    }
                }
                else {
                    visit(item);
                }
            }
            return true;
        }
    }

    const std::byte *first_ = nullptr;
    // Where the run starts, from first_: an address is only ever formed for
    // an item that exists, whatever the stride's sign.
    std::ptrdiff_t offset_ = 0;
    std::ptrdiff_t stride_ = 0;
    std::size_t size_ = 0;
    Stored stored_ = Stored::f64;
    std::ptrdiff_t box_offset_ = 0;
};

using NumberItems = Items<double>;
using IntegerItems = Items<std::int64_t>;

}  // namespace tesmar
