// What a pure computation returns: a value, or an error value naming the
// exception kind and its fixed message. Nothing here touches Python.
#pragma once

#include <expected>

namespace tesmar {

enum class ErrorKind {
    value_error,
    zero_division,
    interrupted,  // the interpreter already holds the exception (a signal)
    // A list's items could not be read where they lie (an item of another
    // type in a list of floats, an unsigned item beyond the signed range):
    // the binding converts the list through Python and computes again.
    not_in_place,
};

struct OpError {
    ErrorKind kind;
    const char *message;  // static text
};

template <class T>
using Outcome = std::expected<T, OpError>;

[[nodiscard]] constexpr std::unexpected<OpError> value_error(const char *message) noexcept
{
    return std::unexpected(OpError{ErrorKind::value_error, message});
}

[[nodiscard]] constexpr std::unexpected<OpError> zero_division(const char *message) noexcept
{
    return std::unexpected(OpError{ErrorKind::zero_division, message});
}

// For long computations that poll for signals: the exception the signal
// handler raised is passed on as it stands.
[[nodiscard]] constexpr std::unexpected<OpError> interrupted() noexcept
{
    return std::unexpected(OpError{ErrorKind::interrupted, ""});
}

[[nodiscard]] constexpr std::unexpected<OpError> not_in_place() noexcept
{
    return std::unexpected(OpError{ErrorKind::not_in_place, ""});
}

// A signal poll: runs the handlers of pending signals, which may run any
// Python code, and answers false when one raised (its exception pending).
// The binding passes one in; computations only call it.
using SignalPoll = bool (*)() noexcept;

}  // namespace tesmar
