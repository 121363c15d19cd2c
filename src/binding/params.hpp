// Parameters, signatures and argument binding. A signature is made at
// compile time from a declared parameter list, and the text signature that
// Python shows is written from the same one, so the names that binding
// matches and the signature cannot drift apart.
#pragma once

#include "binding/error.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace tesmar {

inline constexpr std::size_t max_params = 2;

// Binding slots: borrowed argument objects, null when not given.
using Slots = std::array<PyObject *, max_params>;

// Which surface a signature belongs to: a module function, or a method of
// the class (its messages name the class, its signature starts with $self).
enum class Surface {
    function,
    method,
};

// Not constexpr: reaching it while a signature is made at compile time
// stops the build with this message.
inline void signature_error(const char * /*why*/) {}

// A name held by value: the one compile-time string type. A signature or a
// published name can then be a template argument (a build error about a
// name shows it) and live, with its names, for the process.
struct FixedName {
    constexpr FixedName() = default;
    consteval FixedName(const char *text) : FixedName(std::string_view(text)) {}
    consteval FixedName(std::string_view text)
    {
        if (text.size() >= sizeof chars) {
            signature_error("name too long");
        }
        for (char c : text) {
            chars[size++] = c;
        }
    }
    [[nodiscard]] constexpr std::string_view view() const { return {chars, size}; }

    char chars[32] = {};  // null-terminated
    std::size_t size = 0;
};

// One parameter as a callable declares it: its name, and for an optional
// one the value the computation receives when the caller leaves it out.
struct Parameter {
    constexpr Parameter() = default;
    // A required parameter.
    consteval Parameter(const char *name_) : name(name_) {}
    // An optional parameter and its default.
    consteval Parameter(const char *name_, std::int64_t default_)
        : name(name_), optional(true), default_value(default_)
    {
    }

    FixedName name;
    bool optional = false;
    std::int64_t default_value = 0;
    // Bound by the module function only: on the method, the stored number
    // stands in for it.
    bool function_only = false;
};

// A callable's declared parameters, in order.
struct ParameterList {
    constexpr ParameterList() = default;
    consteval ParameterList(std::initializer_list<Parameter> list)
    {
        if (list.size() > max_params) {
            signature_error("too many parameters");
        }
        for (const Parameter &parameter : list) {
            items[count++] = parameter;
        }
    }

    std::array<Parameter, max_params> items{};
    std::size_t count = 0;
};

// The signature of one surface: its name and the parameters it binds, for
// binding and its messages. A value of this type is a template argument of
// every entry that binds with it.
struct Signature {
    consteval Signature(Surface surface_, std::string_view name_, const ParameterList &declared)
        : surface(surface_), name(name_)
    {
        for (std::size_t i = 0; i < declared.count; ++i) {
            const Parameter &parameter = declared.items[i];
            if (surface_ == Surface::method && parameter.function_only) {
                continue;
            }
            if (!parameter.optional) {
                if (required != count) {
                    signature_error("a required parameter follows an optional one");
                }
                ++required;
            }
            names[count] = parameter.name;
            defaults[count] = parameter.default_value;
            ++count;
        }
    }

    Surface surface;
    FixedName name;  // the callable's Python name
    std::array<FixedName, max_params> names{};
    std::array<std::int64_t, max_params> defaults{};  // of the optional ones
    std::size_t count = 0;
    std::size_t required = 0;
};

namespace detail {

// Writes a callable's doc: its text signature, "cos(number, terms=20)" or
// "cos($self, terms=20)", followed by "\n--\n\n" so that CPython publishes
// the signature and no docstring body. With `out` null it only counts.
constexpr std::size_t write_signature(const Signature &params, char *out)
{
    std::size_t size = 0;
    auto put = [&](std::string_view text) {
        for (char c : text) {
            if (out != nullptr) {
                out[size] = c;
            }
            ++size;
        }
    };
    auto put_integer = [&](std::int64_t value) {
        if (value < 0) {
            put("-");
        }
        char digits[20] = {};
        std::size_t length = 0;
        // Digits from the last, in the negative range where every int64 fits.
        for (std::int64_t rest = value < 0 ? value : -value; length == 0 || rest != 0; rest /= 10) {
            digits[length++] = static_cast<char>('0' - rest % 10);
        }
        while (length > 0) {
            put(std::string_view(&digits[--length], 1));
        }
    };
    put(params.name.view());
    put("(");
    if (params.surface == Surface::method) {
        put(params.count == 0 ? "$self" : "$self, ");
    }
    for (std::size_t i = 0; i < params.count; ++i) {
        put(i == 0 ? "" : ", ");
        put(params.names[i].view());
        if (i >= params.required) {
            put("=");
            put_integer(params.defaults[i]);
        }
    }
    put(")\n--\n\n");
    return size;
}

}  // namespace detail

// The doc of the callable that `P` describes, null-terminated.
template <Signature P>
inline constexpr auto signature_doc = [] {
    std::array<char, detail::write_signature(P, nullptr) + 1> text{};
    detail::write_signature(P, text.data());
    return text;
}();

// Binds a call that needs no message: every keyword the ASCII name of a
// parameter not given yet, every required parameter given. False leaves the
// call, and its report, to bind_slow. Stamped out per callable, so each
// name compares as a constant of known length.
template <Signature P>
[[nodiscard, gnu::always_inline]] inline bool bind_plain(PyObject *const *args, Py_ssize_t nargs,
                                                         PyObject *kwnames, Slots &slots) noexcept
{
    auto given = static_cast<std::size_t>(nargs);
    if (given > P.count) {
        return false;
    }
    for (std::size_t i = 0; i < max_params; ++i) {
        slots[i] = i < given ? args[i] : nullptr;
    }
    Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject *name = PyTuple_GET_ITEM(kwnames, k);
        // Parameter names are ASCII, so no other name can match one.
        if (!PyUnicode_Check(name) || !PyUnicode_IS_ASCII(name)) {
            return false;
        }
        std::string_view key(static_cast<const char *>(PyUnicode_DATA(name)),
                             static_cast<std::size_t>(PyUnicode_GET_LENGTH(name)));
        std::size_t i = 0;
        while (i < P.count && P.names[i].view() != key) {
            ++i;
        }
        if (i == P.count || slots[i] != nullptr) {
            return false;
        }
        slots[i] = args[nargs + k];
    }
    for (std::size_t i = 0; i < P.required; ++i) {
        if (slots[i] == nullptr) {
            return false;
        }
    }
    return true;
}

[[nodiscard]] Expected<void> bind_slow(const Signature &params, PyObject *const *args,
                                       Py_ssize_t nargs, PyObject *kwnames, Slots &slots);
// The constructor's form: an argument tuple and a keyword dictionary.
[[nodiscard]] Expected<void> bind_tuple(const Signature &params, PyObject *args, PyObject *kwargs,
                                        Slots &slots);

// Fills one slot per parameter. Plain positional calls, the common case,
// never leave this inline fast path.
[[nodiscard]] inline Expected<void> bind(const Signature &params, PyObject *const *args,
                                         Py_ssize_t nargs, PyObject *kwnames, Slots &slots)
{
    auto given = static_cast<std::size_t>(nargs);
    if (kwnames == nullptr && given >= params.required && given <= params.count) [[likely]] {
        for (std::size_t i = 0; i < max_params; ++i) {
            slots[i] = i < given ? args[i] : nullptr;
        }
        return {};
    }
    return bind_slow(params, args, nargs, kwnames, slots);
}

}  // namespace tesmar
