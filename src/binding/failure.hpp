// How a call fails on its way back to CPython. A Failure is either an
// exception to raise (a type and one of the module's fixed texts, made into
// an object only when raised) or the news that one is pending already
// (CPython or Python code raised it: a conversion, a signal handler, or
// the module's own cold code that formats a message with the caller's
// names in it, `raise_formatted`). `raise_failure` is the one path from a
// Failure to the interpreter's error state. A Failure is two words, so that
// passing one back costs the calls that succeed nothing.
//
// Internal failures, the module's own faults, are C++ exceptions that the
// frame turns into PanicException; memory running out is MemoryError.
#pragma once

#include "binding/outcome.hpp"
#include "binding/ref.hpp"
#include "binding/stop.hpp"

#include <exception>
#include <expected>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

namespace tesmar {

class Failure {
public:
    // An exception of `type` (a static one, PyExc_...) with a fixed text.
    [[nodiscard]] static constexpr Failure to_raise(PyObject *type, const char *message) noexcept
    {
        return {type, message};
    }
    // The exception the interpreter holds now.
    [[nodiscard]] static constexpr Failure pending() noexcept { return {nullptr, nullptr}; }

    [[nodiscard]] bool is_pending() const noexcept { return type_ == nullptr; }
    [[nodiscard]] PyObject *type() const noexcept { return type_; }
    [[nodiscard]] const char *message() const noexcept { return message_; }

private:
    constexpr Failure(PyObject *type, const char *message) noexcept : type_(type), message_(message)
    {
    }

    PyObject *type_;
    const char *message_;  // static text
};

template <class T>
using Result = std::expected<T, Failure>;

[[nodiscard]] inline std::unexpected<Failure> unexpected_raise(PyObject *type,
                                                               const char *message) noexcept
{
    return std::unexpected(Failure::to_raise(type, message));
}

[[nodiscard]] inline std::unexpected<Failure> unexpected_pending() noexcept
{
    return std::unexpected(Failure::pending());
}

// Raises an exception of `type` with a message made for this call (names,
// counts); the Failure says it is pending.
[[nodiscard]] Failure raise_formatted(PyObject *type, const std::string &message);

// Raises the failure. A pending PanicException that came back through
// Python code called from here is raised as a new one (reported on
// standard error first), as any internal failure is (one that happens
// while raising included).
void raise_failure(Failure failure) noexcept;

// A conversion's TypeError, raised or pending, becomes "argument 'name':
// ..." keeping the original's cause; anything else passes unchanged.
[[nodiscard]] Failure name_argument(Failure failure, std::string_view name);

// An exception of `type` with `message` whose cause is the one pending now.
[[nodiscard]] Failure raised_from_pending(PyObject *type, std::string_view message);

// The failure for a computation's own error.
[[nodiscard]] Failure op_failure(OpError error);
// The failure for a stop; a conversion's TypeError names the list.
[[nodiscard]] Failure stop_failure(Stop stop, std::string_view list_name);

// An internal failure: the module's own fault, surfaced as PanicException.
class Panic : public std::exception {
public:
    explicit Panic(std::string text) : text_(std::move(text)) {}
    [[nodiscard]] const char *what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// Reports the failure on standard error and throws it.
[[noreturn]] void panic(std::string_view text,
                        std::source_location where = std::source_location::current());
// A CPython call that must not fail did: print and clear its exception, then
// fail with "Python API call failed".
[[noreturn]] void panic_api_call(std::source_location where = std::source_location::current());

// Takes the new reference of a C API call that cannot be allowed to fail.
[[nodiscard]] inline Owned infallible(PyObject *result,
                                      std::source_location where = std::source_location::current())
{
    if (result == nullptr) [[unlikely]] {
        panic_api_call(where);
    }
    return Owned::steal(result);
}

// Raises what a C++ exception stands for: MemoryError for std::bad_alloc,
// PanicException for anything else. Never throws; a second failure while
// doing so aborts the process.
void raise_thrown(std::exception_ptr thrown) noexcept;

// The process-wide PanicException class, created on first use.
[[nodiscard]] PyObject *panic_exception_type();

}  // namespace tesmar
