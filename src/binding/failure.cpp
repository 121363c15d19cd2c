#include "binding/failure.hpp"

#include "binding/texts.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace tesmar {
namespace {

PyObject *panic_type = nullptr;  // lives for the rest of the process

void report(std::string_view text, const std::source_location &where) noexcept
{
    std::string_view file = where.file_name();
    if (auto slash = file.rfind('/'); slash != std::string_view::npos) {
        file.remove_prefix(slash + 1);
    }
    std::fprintf(stderr, texts::failure_report, where.function_name(),
                 static_cast<int>(file.size()), file.data(), static_cast<unsigned>(where.line()),
                 static_cast<int>(text.size()), text.data());
}

[[noreturn]] void abort_at_boundary() noexcept
{
    std::fputs(texts::uncaught_panic, stderr);
    std::abort();
}

// A message as a str; a lone surrogate in it (a keyword's name) is kept.
Owned to_str(std::string_view text)
{
    return infallible(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

void raise_panic(std::string_view text)
{
    PyErr_SetObject(panic_exception_type(), to_str(text).get());
}

// The text of a PanicException that Python code raised, for the new one.
std::string panic_text(PyObject *exception)
{
    std::string text(texts::generic_failure);
    if (Owned str = Owned::steal(PyObject_Str(exception))) {
        // Lone surrogates kept: the new exception's text decodes them back.
        if (Owned utf8 =
                Owned::steal(PyUnicode_AsEncodedString(str.get(), "utf-8", "surrogatepass"))) {
            text.assign(PyBytes_AS_STRING(utf8.get()),
                        static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.get())));
        }
    }
    PyErr_Clear();
    return text;
}

void raise_pending()
{
    Owned exception = Owned::steal(PyErr_GetRaisedException());
    if (!exception) {
        PyErr_SetObject(PyExc_SystemError, to_str(texts::no_exception_set).get());
        return;
    }
    if (panic_type != nullptr &&
        PyObject_TypeCheck(exception.get(), reinterpret_cast<PyTypeObject *>(panic_type))) {
        std::fputs(texts::panic_passed_on, stderr);
        PyErr_DisplayException(exception.get());
        raise_panic(panic_text(exception.get()));
        return;
    }
    PyErr_SetRaisedException(exception.release());
}

}  // namespace

void raise_failure(Failure failure) noexcept
{
    try {
        if (failure.is_pending()) {
            raise_pending();
            return;
        }
        PyErr_SetObject(failure.type(), to_str(failure.message()).get());
    }
    catch (...) {
        raise_thrown(std::current_exception());
    }
}

Failure raise_formatted(PyObject *type, const std::string &message)
{
    PyErr_SetObject(type, to_str(message).get());
    return Failure::pending();
}

Failure name_argument(Failure failure, std::string_view name)
{
    if (!failure.is_pending()) {
        if (failure.type() != PyExc_TypeError) {
            return failure;
        }
        return raise_formatted(PyExc_TypeError,
                               fill(texts::argument_prefix, name).append(failure.message()));
    }
    if (PyErr_Occurred() != PyExc_TypeError) {  // the exact type, not a subclass
        return failure;
    }
    Owned original = Owned::steal(PyErr_GetRaisedException());
    Owned text = Owned::steal(PyObject_Str(original.get()));
    if (!text) {
        return failure;  // str() raised: that exception stands
    }
    Owned message = infallible(PyUnicode_FromFormat(
        texts::argument_prefix_format, static_cast<int>(name.size()), name.data(), text.get()));
    Owned wrapped = infallible(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (PyObject *cause = PyException_GetCause(original.get())) {
        PyException_SetCause(wrapped.get(), cause);  // steals the cause
    }
    PyErr_SetRaisedException(wrapped.release());
    return failure;
}

Failure raised_from_pending(PyObject *type, std::string_view message)
{
    Owned cause = Owned::steal(PyErr_GetRaisedException());
    if (!cause) {  // a failure that set nothing: the cause says so, as raising it would
        PyErr_SetObject(PyExc_SystemError, to_str(texts::no_exception_set).get());
        cause = Owned::steal(PyErr_GetRaisedException());
    }
    PyErr_SetObject(type, to_str(message).get());
    Owned raised = Owned::steal(PyErr_GetRaisedException());
    PyException_SetCause(raised.get(), cause.release());
    PyErr_SetRaisedException(raised.release());
    return Failure::pending();
}

Failure op_failure(OpError error)
{
    PyObject *type =
        error.exception == OpException::zero_division ? PyExc_ZeroDivisionError : PyExc_ValueError;
    return Failure::to_raise(type, error.message);
}

Failure stop_failure(Stop stop, std::string_view list_name)
{
    switch (stop) {
        case Stop::handler_raised:
            return Failure::pending();
        case Stop::conversion_raised:
            return name_argument(Failure::pending(), list_name);
        case Stop::item_out_of_range:
            return Failure::to_raise(PyExc_OverflowError, texts::int_too_big);
        case Stop::buffer_changed:
            return Failure::to_raise(PyExc_BufferError, texts::buffer_changed);
        case Stop::none:
            break;
    }
    panic(texts::stopped_without_reason);
}

void panic(std::string_view text, std::source_location where)
{
    report(text, where);
    throw Panic(std::string(text));
}

void panic_api_call(std::source_location where)
{
    if (PyErr_Occurred() != nullptr) {
        PyErr_Print();
    }
    panic(texts::api_call_failed, where);
}

PyObject *panic_exception_type()
{
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc(texts::panic_name, texts::panic_doc,
                                               PyExc_BaseException, nullptr);
        if (panic_type == nullptr) {
            panic_api_call();
        }
    }
    return panic_type;
}

void raise_thrown(std::exception_ptr thrown) noexcept
{
    try {
        try {
            std::rethrow_exception(std::move(thrown));
        }
        catch (const std::bad_alloc &) {
            PyErr_NoMemory();  // as in Python itself
        }
        catch (const Panic &reported) {
            raise_panic(reported.what());
        }
        catch (const std::exception &unexpected) {
            report(unexpected.what(), std::source_location::current());
            raise_panic(unexpected.what());
        }
        catch (...) {
            report(texts::generic_failure, std::source_location::current());
            raise_panic(texts::generic_failure);
        }
    }
    catch (...) {
        abort_at_boundary();
    }
}

}  // namespace tesmar
