// Converting a number argument: the cheap cases inline, the full
// conversions out of line.
#pragma once

#include "binding/failure.hpp"
#include "binding/numeric.hpp"
#include "binding/texts.hpp"

#include <cstdint>
#include <string>

namespace tesmar {

// Exact floats and one-digit exact ints: read without any call, converted
// exactly, no Python code run, no failure possible. Anything else is left
// to the full conversion. The read_exact overloads sit on every fast path
// and are always inlined.
[[nodiscard, gnu::always_inline]] inline bool read_exact(PyObject *object, double &value) noexcept
{
    if (PyFloat_CheckExact(object)) [[likely]] {
        value = PyFloat_AS_DOUBLE(object);
        return true;
    }
    auto *integer = reinterpret_cast<PyLongObject *>(object);
    if (PyLong_CheckExact(object) && PyUnstable_Long_IsCompact(integer)) {
        // Below 2**30 in magnitude: exact.
        value = static_cast<double>(PyUnstable_Long_CompactValue(integer));
        return true;
    }
    return false;
}

// Exact ints below 2**60 in magnitude (at most two 30-bit digits), read
// from the layout that CPython's own inline PyUnstable_Long_CompactValue
// reads. PyLong_AsLongLong takes a byte-array detour for every int of two
// digits, which would dominate integer lists; the module is built for 3.13
// only and the assertion stops a build against another digit layout.
[[nodiscard, gnu::always_inline]] inline bool read_exact(PyObject *object,
                                                         std::int64_t &value) noexcept
{
    static_assert(PyLong_SHIFT == 30 && _PyLong_NON_SIZE_BITS == 3 && _PyLong_SIGN_MASK == 3);
    if (!PyLong_CheckExact(object)) {
        return false;
    }
    const auto &number = reinterpret_cast<PyLongObject *>(object)->long_value;
    const std::uintptr_t digits = number.lv_tag >> 3U;
    if (digits > 2) [[unlikely]] {
        return false;
    }
    std::uint64_t magnitude = digits == 0 ? 0 : number.ob_digit[0];
    if (digits == 2) {
        magnitude |= std::uint64_t{number.ob_digit[1]} << 30U;
    }
    // The sign field holds 0 (positive), 1 (zero) or 2 (negative).
    const auto sign = 1 - static_cast<std::int64_t>(number.lv_tag & 3U);
    value = sign * static_cast<std::int64_t>(magnitude);
    return true;
}

// Exact ints from 0 to below 2**60: negative counts raise on the full
// conversion.
[[nodiscard, gnu::always_inline]] inline bool read_exact(PyObject *object,
                                                         std::uint64_t &value) noexcept
{
    std::int64_t exact = 0;
    if (!read_exact(object, exact) || exact < 0) {
        return false;
    }
    value = static_cast<std::uint64_t>(exact);
    return true;
}

// Marks a stretch of the module's own code that calls Python code which may
// call back into the module: each nesting level counts against the
// interpreter's C recursion limit, so that deep re-entry ends in
// RecursionError instead of overflowing the stack. False when the limit is
// reached, RecursionError pending.
class CallingPython {
public:
    CallingPython() noexcept : entered_(Py_EnterRecursiveCall(texts::while_converting) == 0) {}
    CallingPython(const CallingPython &) = delete;
    CallingPython &operator=(const CallingPython &) = delete;
    ~CallingPython()
    {
        if (entered_) {
            Py_LeaveRecursiveCall();
        }
    }
    explicit operator bool() const noexcept { return entered_; }

private:
    bool entered_;
};

// The full conversions of a real, a signed and an unsigned argument, as
// CPython's __float__ and __index__ protocols give them.
[[nodiscard]] Result<double> to_real(PyObject *object);
[[nodiscard]] Result<std::int64_t> to_signed(PyObject *object);
[[nodiscard]] Result<std::uint64_t> to_unsigned(PyObject *object);

// The __qualname__ of the object's type, for messages.
[[nodiscard]] std::string qualified_type_name(PyObject *object);

// Runs the Python handlers of pending signals (in the main thread only):
// the failure when one raised.
[[nodiscard]] inline Result<void> run_signal_handlers()
{
    if (PyErr_CheckSignals() == 0) [[likely]] {
        return {};
    }
    return fail_with_raised();
}

}  // namespace tesmar
