#include "binding/params.hpp"

#include "binding/texts.hpp"

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace tesmar {
namespace {

std::string call_name(SignatureView signature)
{
    std::string text =
        signature.surface == Surface::method ? fill(texts::method_prefix, texts::class_name) : "";
    return text.append(signature.name).append("()");
}

std::string decimal(std::uint64_t value)
{
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    return {digits, written.ptr};
}

// An integer default in a range that every parameter kind's type lies in.
std::string integer_text(int128 value)
{
    if (value < 0) {
        return "-" + decimal(static_cast<std::uint64_t>(-(value + 1)) + 1);
    }
    return decimal(static_cast<std::uint64_t>(value));
}

// A real default as Python's repr writes it: 0.0, 1e-05.
std::string real_text(double value)
{
    char *text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) {
        panic_api_call();
    }
    std::string copy(text);
    PyMem_Free(text);
    return copy;
}

std::string default_text(const Default &value)
{
    return value.form == Default::Form::integer ? integer_text(value.integer)
                                                : real_text(value.real);
}

Failure type_error(const std::string &message) { return Failure::of(PyExc_TypeError, message); }

Failure too_many_positional(SignatureView signature, std::size_t given)
{
    const auto verb = given == 1 ? texts::was_given : texts::were_given;
    const std::string count = decimal(signature.parameters.size());
    if (signature.required == signature.parameters.size()) {
        return type_error(
            fill(texts::too_many_positional, call_name(signature), count, decimal(given), verb));
    }
    return type_error(fill(texts::too_many_positional_range, call_name(signature),
                           decimal(signature.required), count, decimal(given), verb));
}

Failure missing_required(SignatureView signature, std::span<PyObject *const> slots)
{
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(signature.parameters[i].name.view());
        }
    }
    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            names += missing.size() == 2       ? texts::between_two_names
                     : i + 1 == missing.size() ? texts::before_last_name
                                               : texts::between_names;
        }
        names += fill(texts::missing_name, missing[i]);
    }
    if (missing.size() == 1) {
        return type_error(fill(texts::missing_one, call_name(signature), names));
    }
    return type_error(
        fill(texts::missing_several, call_name(signature), decimal(missing.size()), names));
}

// The keyword's name in the message as it is, lone surrogates and all (the
// message is raised with the same error handler).
Failure about_keyword(SignatureView signature, std::string_view text, PyObject *name)
{
    if (!PyUnicode_Check(name)) {  // a C caller's keyword names: nothing checked them
        return Failure::of(PyExc_TypeError, texts::keywords_must_be_strings);
    }
    Owned bytes = infallible(PyUnicode_AsEncodedString(name, "utf-8", "surrogatepass"));
    const std::string_view utf8(PyBytes_AS_STRING(bytes.get()),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    return type_error(fill(text, call_name(signature), utf8));
}

// Raises the failure `make` makes, or what it throws; false.
template <class Make>
bool raise_made(Make make) noexcept
{
    try {
        raise_failure(make());
    }
    catch (...) {
        raise_thrown(std::current_exception());
    }
    return false;
}

}  // namespace

std::string text_signature(SignatureView signature)
{
    std::string text(signature.name);
    text += '(';
    if (signature.surface == Surface::method) {
        text += signature.parameters.empty() ? "$self" : "$self, ";
    }
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        const Parameter &parameter = signature.parameters[i];
        text.append(i == 0 ? "" : ", ").append(parameter.name.view());
        if (parameter.optional()) {
            text.append("=").append(default_text(parameter.default_value));
        }
    }
    return text + ")\n--\n\n";
}

bool raise_too_many_positional(const SignatureView &signature, Py_ssize_t nargs) noexcept
{
    return raise_made(
        [&] { return too_many_positional(signature, static_cast<std::size_t>(nargs)); });
}

bool raise_keyword_error(const SignatureView &signature, const char *text, PyObject *name) noexcept
{
    return raise_made([&] { return about_keyword(signature, text, name); });
}

bool raise_missing_required(const SignatureView &signature,
                            std::span<PyObject *const> slots) noexcept
{
    return raise_made([&] { return missing_required(signature, slots); });
}

}  // namespace tesmar
