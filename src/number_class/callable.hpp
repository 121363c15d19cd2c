// Declaring a callable once: its Python name, its parameters, the module
// function's computation, and the method's with what it takes and writes
// back. The kinds of the parameters and of the result come from the
// computations' C++ signatures; both PyMethodDefs and both text signatures
// are stamped out from the one declaration.
//
// Naming: a computation has its callable's Python name; a method whose
// computation differs from the function's adds `_stored` (`floor` and
// `floor_stored`).
#pragma once

#include "binding/frame.hpp"
#include "binding/params.hpp"
#include "number_class/method.hpp"

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>

namespace tesmar {

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

// A callable without parameters: {}.
struct NoParameters {};

template <class F, class M, std::size_t N>
struct Callable {
    template <std::size_t K>
    consteval Callable(const char *name_, const Parameter (&declared)[K], F function_, M method_)
        : name(name_), function(function_), method(method_)
    {
        std::copy(declared, declared + K, parameters.begin());
    }
    consteval Callable(const char *name_, NoParameters /*none*/, F function_, M method_)
        : name(name_), function(function_), method(method_)
    {
    }

    FixedName name;
    std::array<Parameter, N> parameters{};
    F function;
    M method;

    static constexpr bool has_function = !std::is_same_v<F, Absent>;
    static constexpr bool has_method = !std::is_same_v<M, Absent>;
};

template <class F, class M, std::size_t K>
Callable(const char *, const Parameter (&)[K], F, M) -> Callable<F, M, K>;
template <class F, class M>
Callable(const char *, NoParameters, F, M) -> Callable<F, M, 0>;

// What serving the callable declared at position K of the tuple
// `Declarations` on surface S takes. (Declarations are reached through the
// whole tuple: GCC 12 cannot tell references to two of a tuple's elements
// apart as template arguments.)
template <const auto &Declarations, std::size_t K, Surface S>
struct Serving {
    static constexpr const auto &declared = std::get<K>(Declarations);
    static constexpr auto signature =
        signature_of<S, declared.name, declared.parameters.size(), declared.parameters>();

    static constexpr auto computation()
    {
        if constexpr (S == Surface::function) {
            return declared.function.computation;
        }
        else {
            return declared.method.computation;
        }
    }
    using Types = ComputationSignature<std::remove_const_t<decltype(computation())>>;
    using Value = typename Unwrapped<typename Types::Returns>::type;

    static consteval Refusal refusal()
    {
        if constexpr (S == Surface::function) {
            return refusal_of<signature, typename Types::Parameters, typename Types::Returns>();
        }
        else {
            constexpr Refusal of_method =
                method_refusal<typename Types::Parameters, Value, declared.method.takes,
                               declared.method.write_back>();
            if constexpr (of_method != Refusal::none) {
                return of_method;
            }
            else {
                using Bound =
                    typename BoundTypes<typename Types::Parameters, declared.method.takes>::type;
                return refusal_of<signature, Bound, typename Types::Returns>();
            }
        }
    }

    // The PyMethodDef, for a declaration the binding serves.
    static PyMethodDef method_def()
    {
        if constexpr (S == Surface::function) {
            return tesmar::method_def<FunctionCall<computation(), signature>>();
        }
        else {
            return tesmar::method_def<MethodCall<computation(), signature, declared.method.takes,
                                                 declared.method.write_back>>();
        }
    }
};

// The class's own callable: the stored number itself.
[[nodiscard]] constexpr double get_number(double number) noexcept { return number; }

inline constexpr std::tuple class_callables{
    Callable{
        "get_number", {}, no_function, Method{&get_number, Takes::stored_number, WriteBack::none}},
};

}  // namespace tesmar
