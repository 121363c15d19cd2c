// Static parameter descriptions and argument binding. A description is read
// at compile time from the callable's text signature, so the signature that
// Python shows and the names that binding matches cannot drift apart.
#pragma once

#include "binding/error.hpp"

#include <array>
#include <cstddef>
#include <string_view>

namespace tesmar {

inline constexpr std::size_t max_params = 2;
inline constexpr std::size_t max_name = 16;

// Binding slots: borrowed argument objects, null when not given.
using Slots = std::array<PyObject *, max_params>;

enum class Owner {
    module,
    number_class
};

// Not constexpr: reaching it while a description is read at compile time
// stops the build with this message.
inline void signature_error(const char * /*why*/) {}

struct Params {
    // `doc` is the text signature followed by "\n--\n\n", for example
    // "cos(number, terms=20)\n--\n\n" or "cos($self, terms=20)\n--\n\n";
    // parameters with a default are optional.
    consteval Params(const char *doc_, Owner owner_ = Owner::module) : doc(doc_), owner(owner_)
    {
        std::string_view text = doc_;
        std::size_t open = text.find('(');
        std::size_t close = text.find(')');
        if (open == std::string_view::npos || close == std::string_view::npos ||
            !text.substr(close).starts_with(")\n--\n\n") || open >= max_name) {
            signature_error("malformed text signature");
        }
        for (std::size_t i = 0; i < open; ++i) {
            name[i] = text[i];
        }
        std::string_view list = text.substr(open + 1, close - open - 1);
        if (owner_ == Owner::number_class) {
            if (!list.starts_with("$self")) {
                signature_error("a method's signature starts with $self");
            }
            list.remove_prefix(5);
            if (list.starts_with(", ")) {
                list.remove_prefix(2);
            }
        }
        while (!list.empty()) {
            std::size_t comma = list.find(", ");
            std::string_view item = list.substr(0, comma);
            std::size_t equals = item.find('=');
            if (count == max_params) {
                signature_error("too many parameters");
            }
            names[count] = item.substr(0, equals);
            if (equals == std::string_view::npos) {
                if (required != count) {
                    signature_error("a required parameter follows an optional one");
                }
                ++required;
            }
            ++count;
            list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 2);
        }
    }

    const char *doc;
    Owner owner;
    char name[max_name] = {};  // the callable's name, null-terminated
    std::array<std::string_view, max_params> names{};
    std::size_t count = 0;
    std::size_t required = 0;
};

// Binds a call that needs no message: every keyword the ASCII name of a
// parameter not given yet, every required parameter given. False leaves the
// call, and its report, to bind_slow. Stamped out per callable, so each
// name compares as a constant of known length.
template <const Params &P>
[[nodiscard]] bool bind_plain(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                              Slots &slots) noexcept
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
        while (i < P.count && P.names[i] != key) {
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

[[nodiscard]] Expected<void> bind_slow(const Params &params, PyObject *const *args,
                                       Py_ssize_t nargs, PyObject *kwnames, Slots &slots);
// The constructor's form: an argument tuple and a keyword dictionary.
[[nodiscard]] Expected<void> bind_tuple(const Params &params, PyObject *args, PyObject *kwargs,
                                        Slots &slots);

// Fills one slot per parameter. Plain positional calls, the common case,
// never leave this inline fast path.
[[nodiscard]] inline Expected<void> bind(const Params &params, PyObject *const *args,
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
