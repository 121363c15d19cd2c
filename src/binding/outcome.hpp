// What a computation answers: a value, or its own error. Nothing here
// touches Python.
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

}  // namespace tesmar
