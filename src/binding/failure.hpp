// How a call fails on its way back to CPython. A Failure is the exception
// to raise, as the object it is, whoever made it: the module's own texts
// (Failure::of), a computation's own error (op_failure), or CPython and
// Python code, whose exception is taken as it stands (Failure::fetch).
// `raise_failure` is the one path from a Failure to the interpreter's error
// state. The calls that succeed never make one, and the functions that do
// are kept out of line, away from the hot paths.
//
// The module's own faults, broken invariants, are panics: C++ exceptions
// that the frame turns into PanicException; memory running out is
// MemoryError.
#pragma once

#include "binding/outcome.hpp"
#include "binding/ref.hpp"

#include <exception>
#include <expected>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

namespace tesmar {

class Failure {
public:
    // A new exception of `type` (a PyExc_...) whose text is `message`.
    [[nodiscard, gnu::cold, gnu::noinline]] static Failure of(PyObject *type,
                                                              std::string_view message) noexcept;
    // The exception that CPython or Python code raised, taken from the
    // interpreter (a SystemError when it holds none). Neither ever fails:
    // memory running out makes the failure MemoryError.
    [[nodiscard, gnu::cold, gnu::noinline]] static Failure fetch() noexcept;

    [[nodiscard]] PyObject *exception() const noexcept { return exception_.get(); }
    // The exception, for raise_failure or a new exception's cause.
    [[nodiscard]] Owned take() && noexcept { return std::move(exception_); }

private:
    explicit Failure(Owned exception) noexcept : exception_(std::move(exception)) {}
    Owned exception_;
};

template <class T>
using Result = std::expected<T, Failure>;

[[nodiscard]] inline std::unexpected<Failure> fail_with(PyObject *type,
                                                        std::string_view message) noexcept
{
    return std::unexpected(Failure::of(type, message));
}

[[nodiscard]] inline std::unexpected<Failure> fail_with_raised() noexcept
{
    return std::unexpected(Failure::fetch());
}

// Raises the failure. A PanicException that came back through Python code
// called from here is raised as a new one (reported on standard error
// first), as any internal failure is (one that happens while raising
// included).
[[gnu::cold, gnu::noinline]] void raise_failure(Failure failure) noexcept;

// A TypeError (the exact type) becomes "argument 'name': ..." keeping the
// original's cause; anything else passes unchanged.
[[nodiscard, gnu::cold, gnu::noinline]] Failure name_argument(Failure failure,
                                                              std::string_view name) noexcept;

// An exception of `type` with `message` whose cause is `cause`.
[[nodiscard]] Failure caused_by(Failure cause, PyObject *type, std::string_view message) noexcept;

// The failure for a computation's own error.
[[nodiscard, gnu::cold, gnu::noinline]] Failure op_failure(OpError error) noexcept;

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
