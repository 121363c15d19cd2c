// Why the binding stops driving a computation, and the signal poll that
// finds out. Nothing here touches Python itself.
#pragma once

#include <cstdint>

namespace tesmar {

// Why the binding stopped driving a computation: reading its items failed,
// or a signal handler raised. The binding raises the stop in place of the
// computation's result.
enum class Stop : std::uint8_t {
    none,
    handler_raised,     // a signal handler raised; the interpreter holds it
    conversion_raised,  // converting a list's item raised; the interpreter holds it
    item_out_of_range,  // an unsigned item above 2**63 - 1 in an integer list
    buffer_changed,     // a handler moved or freed the memory of a buffer being read
};

// A signal poll: it runs the handlers of pending signals (any Python code)
// and checks that what the walk reads is still there, answering false (and
// recording why) when a handler raised or it is gone.
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
