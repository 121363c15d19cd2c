// Declaring a callable once: its Python name, its parameters, the module
// function's computation, and the method's with what it writes back. The
// kinds of the parameters come from the computations' C++ signatures; both
// definitions and both text signatures are stamped out from the one
// declaration.
#pragma once

#include "binding/frame.hpp"
#include "binding/params.hpp"
#include "number_class/method.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace tesmar {

// A Python name that can be a template argument, so that a build error
// about a name shows the name.
template <std::size_t N>
struct Name {
    consteval Name(const char (&text)[N]) { std::copy_n(text, N, chars); }
    [[nodiscard]] constexpr std::string_view view() const { return {chars, N - 1}; }

    char chars[N] = {};
};

// The parameter that the method's stored number stands in for: the module
// function binds it, the method does not.
consteval Parameter stored(const char *name)
{
    Parameter parameter(name);
    parameter.function_only = true;
    return parameter;
}

// The module function: the computation takes the bound parameters.
template <class Computation>
struct Function {
    Computation computation;
};

// The method: the computation takes the stored number and the bound
// parameters, or only the bound parameters. As a rule a method stores its
// result and returns a new instance holding it.
template <class Computation>
struct Method {
    Computation computation;
    WriteBack write_back = WriteBack::new_instance;
};

// The surface a callable does not offer.
struct Absent {};
inline constexpr Absent no_function{};
inline constexpr Absent no_method{};

template <std::size_t N, class F, class M>
struct Callable {
    Name<N> name;
    Parameters parameters;
    F function;
    M method;

    static constexpr bool has_function = !std::is_same_v<F, Absent>;
    static constexpr bool has_method = !std::is_same_v<M, Absent>;
};

template <std::size_t N, class F, class M>
Callable(const char (&)[N], Parameters, F, M) -> Callable<N, F, M>;

// The definition on surface S of the callable declared at position K of the
// tuple `Declarations`. (Declarations are reached through the whole tuple:
// GCC 12 cannot tell references to two of a tuple's elements apart as
// template arguments.)
template <const auto &Declarations, std::size_t K, Surface S>
PyMethodDef definition_of() noexcept
{
    constexpr const auto &declared = std::get<K>(Declarations);
    constexpr Params params{S, declared.name.view(), declared.parameters};
    if constexpr (S == Surface::function) {
        return definition<FunctionCall<declared.function.computation, params>>();
    }
    else {
        return definition<
            MethodCall<declared.method.computation, params, declared.method.write_back>>();
    }
}

// The class's own callable: the stored number itself.
[[nodiscard]] constexpr double get_number(double number) noexcept { return number; }

inline constexpr std::tuple class_callables{
    Callable{"get_number", {}, no_function, Method{&get_number, WriteBack::none}},
};

}  // namespace tesmar
