// What a pure computation returns: a value, or an error value naming the
// exception kind and its fixed message. Nothing here touches Python.
#pragma once

#include <expected>

namespace tesmar {

enum class ErrorKind {
    value_error,
    zero_division,
    interrupted,  // the interpreter already holds the exception (a signal)
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

}  // namespace tesmar
