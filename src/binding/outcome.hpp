// What a computation sees of the world: its own errors, and a signal poll
// when it may run long. Nothing here touches Python.
#pragma once

#include <cstdint>
#include <expected>

namespace tesmar {

// The exception an operation's own error raises.
enum class OpException : std::uint8_t {
    value_error,
    zero_division,
};

struct OpError {
    OpException exception;
    const char *message;  // static text
};

// A computation's result: a value, or its own error.
template <class T>
using Outcome = std::expected<T, OpError>;

[[nodiscard]] constexpr std::unexpected<OpError> value_error(const char *message) noexcept
{
    return std::unexpected(OpError{OpException::value_error, message});
}

[[nodiscard]] constexpr std::unexpected<OpError> zero_division(const char *message) noexcept
{
    return std::unexpected(OpError{OpException::zero_division, message});
}

// Why the binding stopped a computation while it read its inputs. The
// computation never sees it: it only stops early, and the binding raises
// the stop in place of its result.
enum class Stop : std::uint8_t {
    none,
    handler_raised,     // a signal handler raised; the interpreter holds it
    conversion_raised,  // converting a list's item raised; the interpreter holds it
    item_out_of_range,  // an unsigned item above 2**63 - 1 in an integer list
    buffer_changed,     // a handler moved or freed the memory of a buffer being read
};

// A signal poll, handed in by the binding: it runs the handlers of pending
// signals (any Python code) and checks that what the computation reads is
// still there, answering false when a handler raised or it is gone. A
// computation that gets false stops at once; what it returns is discarded.
class SignalPoll {
public:
    // Runs the handlers and checks `watched`: why to stop, or Stop::none.
    using Check = Stop (*)(const void *watched) noexcept;

    constexpr SignalPoll() noexcept = default;
    constexpr SignalPoll(Check check, const void *watched, Stop *stop) noexcept
        : check_(check), watched_(watched), stop_(stop)
    {
    }

    [[nodiscard]] bool operator()() const noexcept
    {
        const Stop stop = check_(watched_);
        if (stop == Stop::none) [[likely]] {
            return true;
        }
        *stop_ = stop;
        return false;
    }

private:
    Check check_ = nullptr;
    const void *watched_ = nullptr;
    Stop *stop_ = nullptr;
};

}  // namespace tesmar
