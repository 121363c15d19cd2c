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

}  // namespace

Failure Failure::of(PyObject *type, std::string_view message) noexcept
{
    // Set, then taken: CPython chains the exception being handled, if any,
    // as it does for its own. Memory running out on the way leaves its
    // MemoryError to take instead.
    const Owned text = Owned::steal(PyUnicode_DecodeUTF8(
        message.data(), static_cast<Py_ssize_t>(message.size()), "surrogatepass"));
    if (text) {
        PyErr_SetObject(type, text.get());
    }
    return fetch();
}

Failure Failure::fetch() noexcept
{
    PyObject *exception = PyErr_GetRaisedException();
    if (exception == nullptr) {
        PyErr_SetString(PyExc_SystemError, texts::no_exception_set);
        exception = PyErr_GetRaisedException();
    }
    return Failure(Owned::steal(exception));
}

void raise_failure(Failure failure) noexcept
{
    try {
        Owned exception = std::move(failure).take();
        if (panic_type != nullptr &&
            PyObject_TypeCheck(exception.get(), reinterpret_cast<PyTypeObject *>(panic_type))) {
            std::fputs(texts::panic_passed_on, stderr);
            PyErr_DisplayException(exception.get());
            raise_panic(panic_text(exception.get()));
            return;
        }
        PyErr_SetRaisedException(exception.release());
    }
    catch (...) {
        raise_thrown(std::current_exception());
    }
}

Failure name_argument(Failure failure, std::string_view name) noexcept
{
    PyObject *original = failure.exception();
    if (!Py_IS_TYPE(original, reinterpret_cast<PyTypeObject *>(PyExc_TypeError))) {
        return failure;
    }
    Owned text = Owned::steal(PyObject_Str(original));
    if (!text) {
        return Failure::fetch();  // str() raised: that exception stands
    }
    const Owned message = Owned::steal(PyUnicode_FromFormat(
        texts::argument_prefix_format, static_cast<int>(name.size()), name.data(), text.get()));
    if (!message) {
        return Failure::fetch();
    }
    PyErr_SetObject(PyExc_TypeError, message.get());
    Failure named = Failure::fetch();
    if (PyObject *cause = PyException_GetCause(original)) {
        PyException_SetCause(named.exception(), cause);  // steals the cause
    }
    return named;
}

Failure caused_by(Failure cause, PyObject *type, std::string_view message) noexcept
{
    Failure raised = Failure::of(type, message);
    PyException_SetCause(raised.exception(), std::move(cause).take().release());
    return raised;
}

Failure op_failure(OpError error) noexcept
{
    PyObject *type =
        error.exception == OpException::zero_division ? PyExc_ZeroDivisionError : PyExc_ValueError;
    return Failure::of(type, error.message);
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
