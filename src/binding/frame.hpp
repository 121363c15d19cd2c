// The binding frame: every C entry point runs its call through one path.
// Bind the arguments to their slots, take the receiver (methods), convert
// each argument by its kind, run the computation, write back (methods),
// convert the result; any failure on the way is raised by raise_failure, and
// anything thrown by raise_thrown. The entries are stamped out from one set
// of templates over a `Call`, which says how a callable reaches its
// computation (FunctionCall below; the class adds MethodCall).
#pragma once

#include "binding/kinds.hpp"
#include "binding/params.hpp"
#include "binding/pieces.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tesmar {

// Runs a call that yields its result object or a failure. No C++ exception
// leaves this function.
template <class Call>
[[gnu::always_inline]] inline PyObject *guarded(Call &&call) noexcept
{
    try {
        Result<Owned> result = std::forward<Call>(call)();
        if (result) [[likely]] {
            return result->release();
        }
        raise_failure(std::move(result).error());
    }
    catch (...) {
        raise_thrown(std::current_exception());
    }
    return nullptr;
}

// The parameter and result types of a computation.
template <class T>
struct ComputationSignature;
template <class R, class... A>
struct ComputationSignature<R (*)(A...) noexcept> {
    using Returns = R;
    using Parameters = std::tuple<A...>;
};
// A fold's computation makes the fold from the values before the items;
// its result is the fold's.
template <Fold R, class... A>
struct ComputationSignature<R (*)(A...) noexcept> {
    using Returns = decltype(std::declval<const R &>().finish());
    using Parameters = std::tuple<A..., Items<typename R::Item>>;
};
// A climb's computation makes the climb from the values; its result is the
// climb's.
template <Climb R, class... A>
struct ComputationSignature<R (*)(A...) noexcept> {
    using Returns = decltype(std::declval<const R &>().finish());
    using Parameters = std::tuple<A...>;
};
template <class R, class... A>
struct ComputationSignature<R (*)(A...)> : ComputationSignature<R (*)(A...) noexcept> {};

// Why the binding cannot serve a declaration; the build stops naming the
// callable and the reason.
enum class Refusal : std::uint8_t {
    none,
    a_required_parameter_follows_an_optional_one,
    two_parameters_share_a_name,
    the_computation_does_not_take_one_value_per_bound_parameter,
    the_stored_number_is_not_the_computations_first_value_a_double,
    a_parameter_type_has_no_parameter_kind,
    a_default_is_not_a_value_of_its_parameters_type,
    a_list_parameter_is_not_the_last_parameter,
    the_result_type_has_no_result_kind,
    a_stored_result_is_not_a_real_number,
};

// Whether `value` is a value of T that a text signature can show.
template <class T>
constexpr bool default_fits(const Default &value)
{
    if constexpr (std::is_same_v<T, double>) {
        constexpr auto exact_limit =
            int128{std::uint64_t{1} << 53U};  // integers up to it are doubles
        if (value.form == Default::Form::integer) {
            return value.integer >= -exact_limit && value.integer <= exact_limit;
        }
        const double x = value.real;
        return x == x && x - x == 0.0;  // finite: inf and nan are no Python literals
    }
    else if constexpr (std::is_integral_v<T>) {
        return value.form == Default::Form::integer &&
               value.integer >= static_cast<int128>(std::numeric_limits<T>::min()) &&
               value.integer <= static_cast<int128>(std::numeric_limits<T>::max());
    }
    else {
        return false;  // lists have no defaults
    }
}

// What the binding refuses of parameter I of P, bound to a value of type T.
template <auto P, class T, std::size_t I>
consteval Refusal parameter_refusal()
{
    if constexpr (!HasParameterKind<T>) {
        return Refusal::a_parameter_type_has_no_parameter_kind;
    }
    else {
        const Parameter &parameter = P.parameters[I];
        if (parameter.optional() && !default_fits<T>(parameter.default_value)) {
            return Refusal::a_default_is_not_a_value_of_its_parameters_type;
        }
        if (ParameterKind<T>::is_list && I + 1 != P.count) {
            return Refusal::a_list_parameter_is_not_the_last_parameter;
        }
        return Refusal::none;
    }
}

// What the binding refuses of a signature and the types of the values bound
// to it, the bound values' types in `Bound`.
template <auto P, class Bound, class Returns>
consteval Refusal refusal_of()
{
    for (std::size_t i = 0; i < P.count; ++i) {
        if (i > 0 && !P.parameters[i].optional() && P.parameters[i - 1].optional()) {
            return Refusal::a_required_parameter_follows_an_optional_one;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (P.parameters[i].name.view() == P.parameters[j].name.view()) {
                return Refusal::two_parameters_share_a_name;
            }
        }
    }
    if constexpr (std::tuple_size_v<Bound> != P.count) {
        return Refusal::the_computation_does_not_take_one_value_per_bound_parameter;
    }
    else {
        Refusal refusal = Refusal::none;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            static_cast<void>(((refusal = parameter_refusal<P, std::tuple_element_t<I, Bound>, I>(),
                                refusal == Refusal::none) &&
                               ...));
        }(std::make_index_sequence<P.count>{});
        if (refusal == Refusal::none && !HasResultKind<typename Unwrapped<Returns>::type>) {
            return Refusal::the_result_type_has_no_result_kind;
        }
        return refusal;
    }
}

// The arguments a callable binds, of the kinds `A...` in the order of `P`
// (a declaration the binding serves: refusal_of found nothing).
template <auto P, class... A>
struct Arguments {
    using Values = std::tuple<typename ParameterKind<A>::Holder...>;

    // Converts the bound slots in declaration order, starting from the
    // defaults; the first failure names its parameter, and the parameters
    // after it are not looked at.
    [[gnu::always_inline]] static Result<Values> convert(const Slots<P.count> &slots)
    {
        return [&]<std::size_t... I> [[gnu::always_inline]] (
                   std::index_sequence<I...>) -> Result<Values> {
            Result<Values> values(std::in_place, start<I>()...);
            static_cast<void>((read_inline<I>(slots, values) && ...));
            return values;
        }(std::index_sequence_for<A...>{});
    }

    // The computation's result for the bound slots: `compute` called with
    // the converted values, or the failure to convert them.
    template <class Compute>
    [[gnu::always_inline]] static auto evaluate(Compute compute, const Slots<P.count> &slots)
        -> decltype(compute(
            ParameterKind<A>::view(std::declval<const typename ParameterKind<A>::Holder &>())...))
    {
        Values values;
        {
            // Ends before the computation runs: what its destructor checks
            // is then known, and nothing of it stays in memory.
            auto converted = convert(slots);
            if (!converted) [[unlikely]] {
                return std::unexpected(std::move(converted).error());
            }
            values = std::move(*converted);
        }
        return std::apply(
            [&] [[gnu::always_inline]] (const auto &...held) {
                return compute(ParameterKind<A>::view(held)...);
            },
            values);
    }

private:
    template <std::size_t I>
    static std::tuple_element_t<I, Values> start()
    {
        using Holder = std::tuple_element_t<I, Values>;
        constexpr Default value = P.parameters[I].default_value;
        if constexpr (value.form == Default::Form::integer) {
            return static_cast<Holder>(value.integer);
        }
        else if constexpr (value.form == Default::Form::real) {
            return static_cast<Holder>(value.real);
        }
        else {
            return Holder{};
        }
    }

    template <std::size_t I>
    using KindOf = ParameterKind<std::tuple_element_t<I, std::tuple<A...>>>;

    // Reads slot I inline; the first slot that needs more converts with
    // every slot after it, out of line, or in place when it is the last one
    // (a list always is). False once the rest are done. The slots go out by
    // value, so the hot path keeps them in registers.
    template <std::size_t I>
    [[gnu::always_inline]] static bool read_inline(const Slots<P.count> &slots,
                                                   Result<Values> &values)
    {
        PyObject *slot = slots[I];
        if constexpr (I >= P.required) {
            if (slot == nullptr) {
                return true;
            }
        }
        if (KindOf<I>::read_fast(slot, std::get<I>(*values))) [[likely]] {
            return true;
        }
        if constexpr (I + 1 == P.count) {
            const Owned held = Owned::borrow(slot);
            auto converted = KindOf<I>::convert(slot, name<I>());
            if (!converted) [[unlikely]] {
                values = std::unexpected(std::move(converted).error());
                return false;
            }
            std::get<I>(*values) = std::move(*converted);
            return true;
        }
        else {
            values = convert_from<I>(std::move(*values), slots);
            return false;
        }
    }

    template <std::size_t I>
    static constexpr std::string_view name()
    {
        return P.parameters[I].name.view();
    }

    // Converts slot First and every later one, holding them meanwhile: a
    // conversion may run Python code, which may drop the caller's
    // references (a functools.partial's arguments, say).
    template <std::size_t First>
    [[gnu::noinline]] static Result<Values> convert_from(Values values, Slots<P.count> slots)
    {
        return [&]<std::size_t... J>(std::index_sequence<J...>) -> Result<Values> {
            const std::array<Owned, sizeof...(J)> held{Owned::borrow(slots[First + J])...};
            Result<void> converted;
            static_cast<void>(
                ((converted = convert_one<First + J>(slots[First + J], values)) && ...));
            if (!converted) {
                return std::unexpected(std::move(converted).error());
            }
            return std::move(values);
        }(std::make_index_sequence<P.count - First>{});
    }

    // Slot I's value; a slot left empty keeps its default.
    template <std::size_t I>
    [[gnu::always_inline]] static Result<void> convert_one(PyObject *slot, Values &values)
    {
        if constexpr (I >= P.required) {
            if (slot == nullptr) {
                return {};
            }
        }
        if (KindOf<I>::read_fast(slot, std::get<I>(values))) {
            return {};
        }
        auto converted = KindOf<I>::convert(slot, name<I>());
        if (!converted) [[unlikely]] {
            return std::unexpected(std::move(converted).error());
        }
        std::get<I>(values) = std::move(*converted);
        return {};
    }
};

template <auto P, class Tuple>
struct ArgumentsFor;
template <auto P, class... A>
struct ArgumentsFor<P, std::tuple<A...>> {
    using type = Arguments<P, A...>;
};

// A Call provides:
//   signature                  the parameters it binds (a Signature);
//   run(self, slots)           the call after binding: receiver, conversion,
//                              computation, write-back and result object.

// One call: bind, then run; any failure raised, null returned.
template <class Call>
[[gnu::always_inline]] inline PyObject *call(PyObject *self, PyObject *const *args,
                                             Py_ssize_t nargs, PyObject *kwnames) noexcept
{
    Slots<Call::signature.count> slots;
    if (!bind<Call::signature>(args, nargs, kwnames, slots)) [[unlikely]] {
        return nullptr;
    }
    // Inlined whatever its size: the call is the hot path of every callable.
    return guarded(
        [&] [[gnu::always_inline]] () -> Result<Owned> { return Call::run(self, slots); });
}

// The call with keywords, out of line.
template <class Call>
[[gnu::noinline]] PyObject *call_with_keywords(PyObject *self, PyObject *const *args,
                                               Py_ssize_t nargs, PyObject *kwnames) noexcept
{
    return call<Call>(self, args, nargs, kwnames);
}

// METH_FASTCALL | METH_KEYWORDS: the positional arguments, then the values
// of the keywords named in `kwnames`. The same call with and without
// keywords, stamped out twice: the one without, the common case, then
// carries no trace of keyword handling.
template <class Call>
PyObject *entry(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) noexcept
{
    if (kwnames != nullptr) [[unlikely]] {
        return call_with_keywords<Call>(self, args, nargs, kwnames);
    }
    return call<Call>(self, args, nargs, nullptr);
}

// METH_NOARGS: nothing to bind.
template <class Call>
PyObject *entry_noargs(PyObject *self, PyObject * /*unused*/) noexcept
{
    return guarded(
        [&] [[gnu::always_inline]] () -> Result<Owned> { return Call::run(self, Slots<0>{}); });
}

// CPython stores every C function as a PyCFunction and casts it back by the
// flags; the detour through void(*)() says the cast is deliberate.
template <class F>
PyCFunction as_cfunction(F *function) noexcept
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The PyMethodDef that CPython calls a callable through: METH_NOARGS when it
// binds no parameters.
template <class Call>
PyMethodDef method_def() noexcept
{
    constexpr auto &signature = Call::signature;
    const char *doc = text_signature_doc<signature>();
    if constexpr (signature.count == 0) {
        return {signature.name.chars, as_cfunction(&entry_noargs<Call>), METH_NOARGS, doc};
    }
    else {
        return {signature.name.chars, as_cfunction(&entry<Call>), METH_FASTCALL | METH_KEYWORDS,
                doc};
    }
}

// A module function: the computation on the arguments alone.
template <auto Op, auto P>
struct FunctionCall {
    static_assert(P.surface == Surface::function);
    static constexpr auto signature = P;
    using Types = ComputationSignature<decltype(Op)>;
    using Bound = typename ArgumentsFor<P, typename Types::Parameters>::type;
    using Value = typename Unwrapped<typename Types::Returns>::type;

    [[gnu::always_inline]] static Result<Owned> run(PyObject * /*module*/,
                                                    const Slots<P.count> &slots)
    {
        // A lambda, not the pointer Op: the call is then a direct one, which
        // link-time optimisation inlines.
        Value value{};
        {
            // Ends here, before the result object is made (as `evaluate`'s
            // conversion does before the computation).
            auto computed = Bound::evaluate(
                [](auto... value_) { return run_computation<Op>(value_...); }, slots);
            if (!computed) [[unlikely]] {
                return std::unexpected(std::move(computed).error());
            }
            value = *computed;
        }
        return ResultKind<Value>::to_python(value);
    }
};

}  // namespace tesmar
