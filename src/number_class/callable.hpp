// Declaring a callable once: its Python name, its parameters, the module
// function's computation, and the method's with what it takes and writes
// back. The kinds of the parameters come from the computations' C++
// signatures; both definitions and both text signatures are stamped out
// from the one declaration.
//
// Naming: a computation has its callable's Python name; a method whose
// computation differs from the function's adds `_stored` (`floor` and
// `floor_stored`).
#pragma once

#include "binding/frame.hpp"
#include "binding/params.hpp"
#include "number_class/method.hpp"

#include <cstddef>
#include <tuple>
#include <type_traits>

namespace tesmar {

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

// The method. As a rule a method stores its result and returns a new
// instance holding it.
template <class Computation>
struct Method {
    Computation computation;
    Takes takes;
    WriteBack write_back = WriteBack::store_new_instance;
};

// The surface a callable does not offer.
struct Absent {};
inline constexpr Absent no_function{};
inline constexpr Absent no_method{};

template <class F, class M>
struct Callable {
    FixedName name;
    ParameterList parameters;
    F function;
    M method;

    static constexpr bool has_function = !std::is_same_v<F, Absent>;
    static constexpr bool has_method = !std::is_same_v<M, Absent>;
};

template <class F, class M>
Callable(const char *, ParameterList, F, M) -> Callable<F, M>;

// Stops the build when a declaration and its computation disagree; the
// callable's name is the first thing the compiler's report shows.
template <FixedName Name, class Computation, std::size_t Bound, Takes T>
consteval bool computation_matches()
{
    constexpr std::size_t taken = std::tuple_size_v<Computation>;
    if constexpr (T == Takes::stored_number) {
        static_assert(taken == Bound + 1,
                      "declared Takes::stored_number: the computation takes the stored number, "
                      "then one value per bound parameter");
        if constexpr (taken != 0) {
            static_assert(std::is_same_v<std::tuple_element_t<0, Computation>, double>,
                          "declared Takes::stored_number: the stored number is a double");
        }
    }
    else {
        static_assert(taken == Bound,
                      "the computation takes one value per bound parameter, "
                      "and no stored number (Takes::arguments_only)");
    }
    return true;
}

// The definition on surface S of the callable declared at position K of the
// tuple `Declarations`. (Declarations are reached through the whole tuple:
// GCC 12 cannot tell references to two of a tuple's elements apart as
// template arguments.)
template <const auto &Declarations, std::size_t K, Surface S>
PyMethodDef definition_of() noexcept
{
    constexpr const auto &declared = std::get<K>(Declarations);
    constexpr Signature signature{S, declared.name.view(), declared.parameters};
    if constexpr (S == Surface::function) {
        constexpr auto computation = declared.function.computation;
        using Computation =
            typename ComputationTypes<std::remove_const_t<decltype(computation)>>::Args;
        static_assert(computation_matches<declared.name, Computation, signature.count,
                                          Takes::arguments_only>());
        return definition<FunctionCall<computation, signature>>();
    }
    else {
        constexpr auto computation = declared.method.computation;
        using Computation =
            typename ComputationTypes<std::remove_const_t<decltype(computation)>>::Args;
        static_assert(computation_matches<declared.name, Computation, signature.count,
                                          declared.method.takes>());
        return definition<MethodCall<computation, signature, declared.method.takes,
                                     declared.method.write_back>>();
    }
}

// The class's own callable: the stored number itself.
[[nodiscard]] constexpr double get_number(double number) noexcept { return number; }

inline constexpr std::tuple class_callables{
    Callable{
        "get_number", {}, no_function, Method{&get_number, Takes::stored_number, WriteBack::none}},
};

}  // namespace tesmar
