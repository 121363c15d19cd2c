// Instance methods: the binding frame's call with a receiver. A method's
// declaration says what its computation takes (the stored number first, or
// only the bound arguments) and what it writes back.
#pragma once

#include "binding/frame.hpp"
#include "number_class/number_class.hpp"

#include <tuple>
#include <type_traits>

namespace tesmar {

// What a method's computation takes before the bound arguments.
enum class Takes {
    stored_number,   // the stored number, a double
    arguments_only,  // nothing of the receiver
};

// What a method does with its computation's result.
enum class WriteBack {
    none,                // stores nothing (shared access); returns the result
    store_new_instance,  // stores the result; returns a new instance holding it
    store_return_value,  // stores the result as a double; returns the result itself
};

// The values a method binds: the computation's, less the stored number.
template <class Computation, Takes T>
struct BoundTypes {
    using type = Computation;
};
template <class First, class... Rest>
struct BoundTypes<std::tuple<First, Rest...>, Takes::stored_number> {
    using type = std::tuple<Rest...>;
};

// Whether a computation's first value is a double.
template <class Computation>
consteval bool first_is_double()
{
    if constexpr (std::tuple_size_v<Computation> == 0) {
        return false;
    }
    else {
        return std::is_same_v<std::tuple_element_t<0, Computation>, double>;
    }
}

// What the binding refuses of a method beyond its signature and kinds.
template <class Computation, class Value, Takes T, WriteBack W>
consteval Refusal method_refusal()
{
    if constexpr (T == Takes::stored_number) {
        if (!first_is_double<Computation>()) {
            return Refusal::the_stored_number_is_not_the_computations_first_value_a_double;
        }
    }
    if constexpr (W != WriteBack::none && !std::is_arithmetic_v<Value> &&
                  !std::is_same_v<Value, int128>) {
        return Refusal::a_stored_result_is_not_a_real_number;
    }
    return Refusal::none;
}

template <auto Op, auto P, Takes T, WriteBack W>
struct MethodCall {
    static_assert(P.surface == Surface::method);
    static constexpr auto signature = P;
    using Types = ComputationSignature<decltype(Op)>;
    using Bound =
        typename ArgumentsFor<P, typename BoundTypes<typename Types::Parameters, T>::type>::type;
    using Value = typename Unwrapped<typename Types::Returns>::type;
    // A method that stores nothing only reads: others may read alongside.
    // Without parameters it runs no Python code (nothing converts).
    static constexpr Access access = W != WriteBack::none ? Access::exclusive
                                     : P.count == 0       ? Access::instant
                                                          : Access::shared;

    // The computation as a function of the bound arguments alone (a lambda,
    // so that the call is a direct one, which link-time optimisation
    // inlines).
    template <Access A>
    static auto with_stored(const Receiver<A> &receiver)
    {
        if constexpr (T == Takes::stored_number) {
            return [&receiver](auto... value) {
                return run_computation<Op>(receiver.number(), value...);
            };
        }
        else {
            return [](auto... value) { return run_computation<Op>(value...); };
        }
    }

    // The receiver is held from before any argument converts (a conversion
    // may call back into it) until its new number is stored. With
    // arguments to convert, Python code may drop the caller's reference to
    // it meanwhile: then the call keeps one of its own.
    [[gnu::always_inline]] static Result<Value> compute(PyObject *self, const Slots<P.count> &slots)
    {
        const Owned kept = P.count > 0 ? Owned::borrow(self) : Owned();
        Receiver<access> receiver(self);
        if (!receiver) [[unlikely]] {
            return std::unexpected(receiver.failure());
        }
        auto value = Bound::evaluate(with_stored(receiver), slots);
        if constexpr (W != WriteBack::none) {
            if (value) [[likely]] {
                receiver.set_number(static_cast<double>(*value));
            }
        }
        return value;
    }

    // The result object is made once the receiver is free again.
    [[gnu::always_inline]] static Result<Owned> run(PyObject *self, const Slots<P.count> &slots)
    {
        Value value{};
        {
            // Ends here, before the result object is made: what its
            // destructor checks is then known.
            auto computed = compute(self, slots);
            if (!computed) [[unlikely]] {
                return std::unexpected(std::move(computed).error());
            }
            value = *computed;
        }
        if constexpr (W == WriteBack::store_new_instance) {
            return make_result(static_cast<double>(value));
        }
        else {
            return ResultKind<Value>::to_python(value);
        }
    }
};

}  // namespace tesmar
