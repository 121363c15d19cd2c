// Error values and internal failures. An error value is an exception that
// has not been raised yet; only the binding frame raises it.
#pragma once

#include "binding/outcome.hpp"
#include "binding/ref.hpp"

#include <exception>
#include <expected>
#include <source_location>
#include <string>
#include <string_view>

namespace tesmar {

class Error {
public:
    // An exception of `kind` whose one argument is `message`, built only
    // when it is raised.
    [[nodiscard]] static Error make(PyObject *kind, std::string message);
    [[nodiscard]] static Error from(OpError error);
    // Takes the interpreter's pending exception. With none pending this is
    // the SystemError for a failure reported without an exception; a
    // PanicException coming back through Python code becomes an internal
    // failure again (thrown, never returned).
    [[nodiscard]] static Error fetch();
    // An exception object made elsewhere.
    [[nodiscard]] static Error from_exception(Owned exception);

    // True when the exception's type is exactly `type`, not a subclass.
    [[nodiscard]] bool is_exactly(PyObject *type) const noexcept;
    // The exception object itself, built now if it was only described.
    [[nodiscard]] Owned to_exception() &&;
    // Makes this the interpreter's current exception.
    void raise() &&;

private:
    friend Error wrap_argument_error(Error error, std::string_view name);

    PyObject *kind_ = nullptr;  // a static exception type
    std::string message_;
    Owned exception_;
};

template <class T>
using Expected = std::expected<T, Error>;

// Re-raises a conversion TypeError as "argument 'name': ..."; other errors
// pass through unchanged.
[[nodiscard]] Error wrap_argument_error(Error error, std::string_view name);

// An internal failure: the module's own fault, surfaced as PanicException.
class InternalFailure : public std::exception {
public:
    explicit InternalFailure(std::string text) : text_(std::move(text)) {}
    [[nodiscard]] const char *what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// Reports the failure on standard error and throws it.
[[noreturn]] void fail(std::string text,
                       std::source_location where = std::source_location::current());
// A CPython call that must not fail did: print and clear its exception, then
// fail with "Python API call failed".
[[noreturn]] void fail_api_call(std::source_location where = std::source_location::current());

// Takes a new reference from a C API call that cannot be allowed to fail.
[[nodiscard]] inline Owned checked(PyObject *result,
                                   std::source_location where = std::source_location::current())
{
    if (result == nullptr) [[unlikely]] {
        fail_api_call(where);
    }
    return Owned::steal(result);
}

// Raises PanicException for the exception in flight. Never throws; a second
// failure while doing so aborts the process.
void raise_panic(std::exception_ptr failure) noexcept;

// The process-wide PanicException class, created on first use.
[[nodiscard]] PyObject *panic_exception_type();

}  // namespace tesmar
