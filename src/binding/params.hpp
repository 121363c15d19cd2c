// Parameters, signatures and argument binding. A signature is made at
// compile time from a declared parameter list, and the text signature that
// Python shows is written from the same one, so the names that binding
// matches and the signature cannot drift apart.
#pragma once

#include "binding/failure.hpp"
#include "binding/numeric.hpp"
#include "binding/texts.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace tesmar {

// Not constexpr: reaching it while a name is made at compile time stops the
// build with this message.
inline void name_error(const char * /*why*/) {}

// A name held by value: the one compile-time string type. A signature or a
// published name can then be a template argument (a build error about a
// name shows it) and live, with its names, for the process.
struct FixedName {
    constexpr FixedName() = default;
    consteval FixedName(const char *text) : FixedName(std::string_view(text)) {}
    consteval FixedName(std::string_view text)
    {
        if (text.size() >= sizeof chars) {
            name_error("a name has at most 31 characters");
        }
        for (char c : text) {
            if (static_cast<unsigned char>(c) > 127) {
                name_error("a name is ASCII");
            }
            chars[size++] = c;
        }
    }
    [[nodiscard]] constexpr std::string_view view() const { return {chars, size}; }

    char chars[32] = {};  // null-terminated
    std::size_t size = 0;
};

// An optional parameter's default as written in its declaration: an integer
// or a real number (whether it suits the parameter's type is checked where
// the declaration is served).
struct Default {
    enum class Form : std::uint8_t {
        none,  // a required parameter
        integer,
        real,
    };
    Form form = Form::none;
    int128 integer = 0;
    double real = 0.0;
};

// One parameter as a callable declares it: its name, and for an optional
// one the value the computation receives when the caller leaves it out.
struct Parameter {
    constexpr Parameter() = default;
    // A required parameter.
    consteval Parameter(const char *name_) : name(name_) {}
    // An optional parameter and its default: {"terms", 20}, {"low", 0.0}.
    template <class Value>
        requires std::is_arithmetic_v<Value> && (!std::is_same_v<Value, bool>)
    consteval Parameter(const char *name_, Value value) : name(name_)
    {
        if constexpr (std::is_integral_v<Value>) {
            default_value.form = Default::Form::integer;
            default_value.integer = value;
        }
        else {
            default_value.form = Default::Form::real;
            default_value.real = static_cast<double>(value);
        }
    }

    [[nodiscard]] constexpr bool optional() const
    {
        return default_value.form != Default::Form::none;
    }

    FixedName name;
    Default default_value;
    // Bound by the module function only: on the method, the stored number
    // stands in for it.
    bool function_only = false;
};

// The parameter that the method's stored number stands in for: the module
// function binds it, the method does not.
consteval Parameter function_only(const char *name)
{
    Parameter parameter(name);
    parameter.function_only = true;
    return parameter;
}

// Which surface a signature belongs to: a module function, or a method of
// the class (its messages name the class, its signature starts with $self).
enum class Surface {
    function,
    method,
};

// How many of the declared parameters a surface binds.
template <std::size_t N>
consteval std::size_t bound_count(Surface surface, const std::array<Parameter, N> &declared)
{
    std::size_t count = 0;
    for (const Parameter &parameter : declared) {
        if (surface == Surface::function || !parameter.function_only) {
            ++count;
        }
    }
    return count;
}

// The signature of one surface: its name and the parameters it binds, for
// binding and its messages. A value of this type is a template argument of
// every entry that binds with it.
template <std::size_t N>
struct Signature {
    static constexpr std::size_t count = N;

    Surface surface;
    FixedName name;  // the callable's Python name
    std::array<Parameter, N> parameters;
    std::size_t required;  // the leading parameters that have no default
};

// The signature of surface S made from the declared parameters.
template <Surface S, FixedName Name, std::size_t N, std::array<Parameter, N> Declared>
consteval auto signature_of()
{
    Signature<bound_count(S, Declared)> signature{S, Name, {}, 0};
    std::size_t i = 0;
    for (const Parameter &parameter : Declared) {
        if (S == Surface::method && parameter.function_only) {
            continue;
        }
        signature.parameters[i++] = parameter;
        if (!parameter.optional()) {
            ++signature.required;
        }
    }
    return signature;
}

// A signature whose size is not part of its type, for what runs cold.
struct SignatureView {
    Surface surface;
    std::string_view name;
    std::span<const Parameter> parameters;
    std::size_t required;

    template <std::size_t N>
    constexpr SignatureView(const Signature<N> &signature) noexcept
        : surface(signature.surface),
          name(signature.name.view()),
          parameters(signature.parameters),
          required(signature.required)
    {
    }
};

// The doc CPython publishes for a callable: its text signature,
// "cos(number, terms=20)" or "cos($self, terms=20)", and "\n--\n\n", so that
// __text_signature__ is set and there is no docstring body. Defaults are
// written as Python writes them (20, 0.0, 1e-05).
[[nodiscard]] std::string text_signature(SignatureView signature);

// The same, made once for the signature P and kept for the process (the
// function objects point at it).
template <auto P>
[[nodiscard]] const char *text_signature_doc()
{
    static const char *const doc = [] {
        const std::string text = text_signature(P);
        auto *kept = new char[text.size() + 1];  // never freed: lives with the functions
        text.copy(kept, text.size());
        kept[text.size()] = '\0';
        return kept;
    }();
    return doc;
}

// Binding slots: borrowed argument objects, null when not given.
template <std::size_t N>
using Slots = std::array<PyObject *, N>;

// The position of the keyword `name` among P's parameters, P.count if none.
// Parameter names are ASCII: no other name can match one.
template <auto P>
[[gnu::always_inline]] inline std::size_t parameter_named(PyObject *name) noexcept
{
    if (!PyUnicode_Check(name) || !PyUnicode_IS_ASCII(name)) {
        return P.count;
    }
    const std::string_view key(static_cast<const char *>(PyUnicode_DATA(name)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(name)));
    std::size_t i = 0;
    while (i < P.count && P.parameters[i].name.view() != key) {
        ++i;
    }
    return i;
}

// The TypeErrors of a call that does not bind, worded as CPython words its
// own; each raises its error and answers false.
[[gnu::cold]] bool raise_too_many_positional(const SignatureView &signature,
                                             Py_ssize_t nargs) noexcept;
// `text` is unexpected_keyword or multiple_values.
[[gnu::cold]] bool raise_keyword_error(const SignatureView &signature, const char *text,
                                       PyObject *name) noexcept;
[[gnu::cold]] bool raise_missing_required(const SignatureView &signature,
                                          std::span<PyObject *const> slots) noexcept;

template <auto P>
inline constexpr SignatureView signature_view{P};

// Out of line, with the slots by value: the hot path keeps them in registers.
template <auto P>
[[gnu::cold, gnu::noinline]] bool raise_missing_required(Slots<P.count> slots) noexcept
{
    return raise_missing_required(signature_view<P>, slots);
}

// Places the keyword arguments of a vectorcall in P's slots, out of line
// (positional calls are the common ones); false once one is at fault.
template <auto P>
[[gnu::noinline]] bool bind_keywords(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                                     Slots<P.count> &slots) noexcept
{
    const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject *name = PyTuple_GET_ITEM(kwnames, k);
        const std::size_t i = parameter_named<P>(name);
        if (i == P.count) {
            return raise_keyword_error(signature_view<P>, texts::unexpected_keyword, name);
        }
        if (slots[i] != nullptr) {
            return raise_keyword_error(signature_view<P>, texts::multiple_values, name);
        }
        slots[i] = args[nargs + k];
    }
    return true;
}

// Binds a vectorcall's arguments to the parameters of P, one slot each, in
// the order CPython checks them: the count of positional arguments, each
// keyword, then the required parameters. Stamped out per signature, so each
// name compares as a constant of known length. False when the call does not
// bind, its TypeError raised.
template <auto P>
[[gnu::always_inline]] inline bool bind(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                                        Slots<P.count> &slots) noexcept
{
    const auto given = static_cast<std::size_t>(nargs);
    if (given > P.count) [[unlikely]] {
        return raise_too_many_positional(signature_view<P>, nargs);
    }
    for (std::size_t i = 0; i < P.count; ++i) {
        slots[i] = i < given ? args[i] : nullptr;
    }
    if (kwnames != nullptr) [[unlikely]] {
        if (!bind_keywords<P>(args, nargs, kwnames, slots)) {
            return false;
        }
    }
    // The positional ones are there: CPython passes no null argument.
    for (std::size_t i = given; i < P.required; ++i) {
        if (slots[i] == nullptr) [[unlikely]] {
            return raise_missing_required<P>(slots);
        }
    }
    return true;
}

}  // namespace tesmar
