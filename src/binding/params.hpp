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
