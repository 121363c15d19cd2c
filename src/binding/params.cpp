#include "binding/params.hpp"

#include <string>

namespace tesmar {
namespace {

std::string call_name(const Signature &params)
{
    std::string text = params.surface == Surface::method ? "Tesmarmath." : "";
    return text.append(params.name.view()).append("()");
}

Error type_error(std::string message) { return Error::make(PyExc_TypeError, std::move(message)); }

Error too_many_positional(const Signature &params, std::size_t given)
{
    std::string message = call_name(params);
    if (params.required == params.count) {
        message += " takes " + std::to_string(params.count);
    }
    else {
        message += " takes from " + std::to_string(params.required) + " to " +
                   std::to_string(params.count);
    }
    message += " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
    return type_error(std::move(message));
}

Error missing_required(const Signature &params, const Slots &slots)
{
    std::array<std::string_view, max_params> missing{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < params.required; ++i) {
        if (slots[i] == nullptr) {
            missing[count++] = params.names[i].view();
        }
    }
    std::string message = call_name(params) + " missing " + std::to_string(count) +
                          " required positional " + (count == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            message += count == 2 ? " and " : (i + 1 == count ? ", and " : ", ");
        }
        message.append("'").append(missing[i]).append("'");
    }
    return type_error(std::move(message));
}

// Places one keyword argument, matching its name's UTF-8 bytes against the
// static parameter names.
Expected<void> bind_keyword(const Signature &params, PyObject *name, PyObject *value, Slots &slots)
{
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (utf8 != nullptr) {
        std::string_view key(utf8, static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < params.count; ++i) {
            if (params.names[i].view() == key) {
                if (slots[i] != nullptr) {
                    return std::unexpected(type_error(call_name(params) +
                                                      " got multiple values for argument '" +
                                                      std::string(key) + "'"));
                }
                slots[i] = value;
                return {};
            }
        }
        return std::unexpected(type_error(
            call_name(params) + " got an unexpected keyword argument '" + std::string(key) + "'"));
    }
    // A name without a UTF-8 form (lone surrogates) matches nothing; CPython
    // formats it for the message.
    PyErr_Clear();
    Owned message = checked(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                                 call_name(params).c_str(), name));
    return std::unexpected(
        Error::from_exception(checked(PyObject_CallOneArg(PyExc_TypeError, message.get()))));
}

Expected<void> finish(const Signature &params, const Slots &slots)
{
    for (std::size_t i = 0; i < params.required; ++i) {
        if (slots[i] == nullptr) {
            return std::unexpected(missing_required(params, slots));
        }
    }
    return {};
}

}  // namespace

Expected<void> bind_slow(const Signature &params, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames, Slots &slots)
{
    auto given = static_cast<std::size_t>(nargs);
    if (given > params.count) {
        return std::unexpected(too_many_positional(params, given));
    }
    slots.fill(nullptr);
    for (std::size_t i = 0; i < given; ++i) {
        slots[i] = args[i];
    }
    if (kwnames != nullptr) {
        Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            if (auto bound =
                    bind_keyword(params, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots);
                !bound) {
                return bound;
            }
        }
    }
    return finish(params, slots);
}

Expected<void> bind_tuple(const Signature &params, PyObject *args, PyObject *kwargs, Slots &slots)
{
    auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (given > params.count) {
        return std::unexpected(too_many_positional(params, given));
    }
    slots.fill(nullptr);
    for (std::size_t i = 0; i < given; ++i) {
        slots[i] = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject *name = nullptr;
        PyObject *value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            if (auto bound = bind_keyword(params, name, value, slots); !bound) {
                return bound;
            }
        }
    }
    return finish(params, slots);
}

}  // namespace tesmar
