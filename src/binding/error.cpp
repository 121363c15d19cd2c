#include "binding/error.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace tesmar {
namespace {

PyObject *panic_type = nullptr;  // lives for the rest of the process

constexpr const char *panic_doc =
    "The exception raised when tesmar_math's native code fails unexpectedly.\n\n"
    "Like SystemExit, this exception derives from BaseException, so that it\n"
    "will typically propagate all the way up the stack and end the interpreter.";

constexpr const char *generic_failure = "tesmar_math failed unexpectedly";

void report(std::string_view text, const std::source_location &where) noexcept
{
    std::string_view file = where.file_name();
    if (auto slash = file.rfind('/'); slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    std::fprintf(stderr, "tesmar_math: internal failure in %s (%.*s:%u): %.*s\n",
                 where.function_name(), static_cast<int>(file.size()), file.data(),
                 static_cast<unsigned>(where.line()), static_cast<int>(text.size()), text.data());
}

[[noreturn]] void abort_at_boundary() noexcept
{
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
}

}  // namespace

Error Error::make(PyObject *kind, std::string message)
{
    Error error;
    error.kind_ = kind;
    error.message_ = std::move(message);
    return error;
}

Error Error::from(OpError error)
{
    if (error.kind == ErrorKind::interrupted) {
        return fetch();
    }
    if (error.kind == ErrorKind::not_in_place) {
        fail("a list's second reading was not in place");  // the binding converts it
    }
    PyObject *kind =
        error.kind == ErrorKind::zero_division ? PyExc_ZeroDivisionError : PyExc_ValueError;
    return make(kind, error.message);
}

Error Error::fetch()
{
    Owned exception = Owned::steal(PyErr_GetRaisedException());
    if (!exception) {
        return make(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    if (panic_type != nullptr &&
        PyObject_TypeCheck(exception.get(), reinterpret_cast<PyTypeObject *>(panic_type))) {
        std::fputs(
            "--- A PanicException was raised by Python code called from tesmar_math;"
            " passing it on ---\n",
            stderr);
        PyErr_DisplayException(exception.get());
        std::string text = generic_failure;
        if (Owned str = Owned::steal(PyObject_Str(exception.get()))) {
            Py_ssize_t size = 0;
            if (const char *utf8 = PyUnicode_AsUTF8AndSize(str.get(), &size)) {
                text.assign(utf8, static_cast<std::size_t>(size));
            }
        }
        PyErr_Clear();
        throw InternalFailure(std::move(text));
    }
    return from_exception(std::move(exception));
}

Error Error::from_exception(Owned exception)
{
    Error error;
    error.exception_ = std::move(exception);
    return error;
}

bool Error::is_exactly(PyObject *type) const noexcept
{
    if (exception_) {
        return Py_TYPE(exception_.get()) == reinterpret_cast<PyTypeObject *>(type);
    }
    return kind_ == type;
}

Owned Error::to_exception() &&
{
    if (exception_) {
        return std::move(exception_);
    }
    Owned message = checked(
        PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    return checked(PyObject_CallOneArg(kind_, message.get()));
}

void Error::raise() &&
{
    if (exception_) {
        PyErr_SetRaisedException(exception_.release());
        return;
    }
    Owned message = checked(
        PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    PyErr_SetObject(kind_, message.get());
}

Error wrap_argument_error(Error error, std::string_view name)
{
    if (!error.is_exactly(PyExc_TypeError)) {
        return error;
    }
    if (!error.exception_) {  // our own message, no cause: no Python objects needed
        std::string message = "argument '";
        message.append(name).append("': ").append(error.message_);
        return Error::make(PyExc_TypeError, std::move(message));
    }
    Owned original = std::move(error).to_exception();
    Owned text = Owned::steal(PyObject_Str(original.get()));
    if (!text) {
        return Error::fetch();
    }
    Owned message = checked(PyUnicode_FromFormat(
        "argument '%.*s': %U", static_cast<int>(name.size()), name.data(), text.get()));
    Owned wrapped = checked(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (PyObject *cause = PyException_GetCause(original.get())) {
        PyException_SetCause(wrapped.get(), cause);  // steals the cause
    }
    return Error::from_exception(std::move(wrapped));
}

void fail(std::string text, std::source_location where)
{
    report(text, where);
    throw InternalFailure(std::move(text));
}

void fail_api_call(std::source_location where)
{
    if (PyErr_Occurred() != nullptr) {
        PyErr_Print();
    }
    fail("Python API call failed", where);
}

PyObject *panic_exception_type()
{
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc("vorn_runtime.PanicException", panic_doc,
                                               PyExc_BaseException, nullptr);
        if (panic_type == nullptr) {
            fail_api_call();
        }
    }
    return panic_type;
}

void raise_panic(std::exception_ptr failure) noexcept
{
    try {
        std::string text = generic_failure;
        try {
            std::rethrow_exception(std::move(failure));
        }
        catch (const InternalFailure &reported) {
            text = reported.what();
        }
        catch (const std::exception &unexpected) {
            text = unexpected.what();
            report(text, std::source_location::current());
        }
        catch (...) {
            report(text, std::source_location::current());
        }
        PyObject *type = panic_exception_type();
        Owned message =
            checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        PyErr_SetObject(type, message.get());
    }
    catch (...) {
        abort_at_boundary();
    }
}

}  // namespace tesmar
