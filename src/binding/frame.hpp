// The binding frame: every C entry point runs its body through `guarded`,
// and the entries of module functions and methods are stamped out from one
// set of templates over a `Call`, which says how a callable reaches its
// computation (FunctionCall below; the class adds MethodCall).
#pragma once

#include "binding/kinds.hpp"
#include "binding/params.hpp"

#include <array>
#include <cstdint>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tesmar {

// Runs a body that yields a result object or an error value. No C++
// exception leaves this function. Memory running out (a list too long to
// hold, say) is MemoryError, as in Python itself; any other exception is an
// internal failure.
template <class Body>
PyObject *guarded(Body &&body) noexcept
{
    try {
        Expected<Owned> result = std::forward<Body>(body)();
        if (result) [[likely]] {
            return result->release();
        }
        std::move(result.error()).raise();
    }
    catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    }
    catch (...) {
        raise_panic(std::current_exception());
    }
    return nullptr;
}

// The parameter and result types of a computation.
template <class T>
struct ComputationTypes;
template <class R, class... A>
struct ComputationTypes<R (*)(A...) noexcept> {
    using Result = R;
    using Args = std::tuple<A...>;
};
template <class R, class... A>
struct ComputationTypes<R (*)(A...)> : ComputationTypes<R (*)(A...) noexcept> {};

template <class T>
struct IsOutcome : std::false_type {};
template <class T>
struct IsOutcome<Outcome<T>> : std::true_type {};

// The plain value type of a computation's result.
template <class R>
struct Unwrapped {
    using type = R;
};
template <class T>
struct Unwrapped<Outcome<T>> {
    using type = T;
};

// Turns a computation's result (a value or an Outcome) into a plain value
// or an error value.
template <class R>
Expected<typename Unwrapped<R>::type> unwrap(R result)
{
    if constexpr (IsOutcome<R>::value) {
        if (!result) {
            return std::unexpected(Error::from(result.error()));
        }
        return *result;
    }
    else {
        return result;
    }
}

// Whether a kind that must be converted last (see ListParam) stands last.
template <class... A>
consteval bool converted_last_stands_last()
{
    const std::array<bool, sizeof...(A)> last{ConvertedLast<A>...};
    for (std::size_t i = 0; i + 1 < last.size(); ++i) {
        if (last[i]) {
            return false;
        }
    }
    return true;
}

// The arguments a callable binds, of the kinds `A...` in the order of `P`.
template <Signature P, class... A>
struct Arguments {
    static_assert(sizeof...(A) == P.count, "the computation takes one value per parameter");
    static_assert(converted_last_stands_last<A...>(), "a list parameter is the last parameter");

    using Values = std::tuple<typename ArgumentKind<A>::Holder...>;
    static constexpr bool all_fast = (HasFastForm<A> && ...);

    // Every value before the call's arguments are read: an optional
    // parameter's default, nothing for a required one.
    static Values initial()
    {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return Values{start<I>()...};
        }(std::index_sequence_for<A...>{});
    }

    // Reads every given positional argument by its fast form; false when
    // one has none, and the general path starts the call over.
    static bool read_fast(PyObject *const *args, std::size_t given, Values &values) noexcept
    {
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return ((I >= given || ArgumentKind<A>::read_fast(args[I], std::get<I>(values))) &&
                    ...);
        }(std::index_sequence_for<A...>{});
    }

    // The same for a call with keywords, when binding needs no message.
    static bool read_fast_keywords(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                                   Values &values) noexcept
    {
        Slots slots;
        return bind_plain<P>(args, nargs, kwnames, slots) &&
               [&]<std::size_t... I>(std::index_sequence<I...>) {
                   return ((slots[I] == nullptr ||
                            ArgumentKind<A>::read_fast(slots[I], std::get<I>(values))) &&
                           ...);
               }(std::index_sequence_for<A...>{});
    }

    // Converts the bound slots in declaration order, stopping at the first
    // failure, which names its parameter.
    static Expected<void> convert(const Slots &slots, Values &values)
    {
        Expected<void> status;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            static_cast<void>((convert_one<I>(slots[I], std::get<I>(values), status) && ...));
        }(std::index_sequence_for<A...>{});
        return status;
    }

    // Calls `compute` with the values as the computation takes them.
    template <class Compute>
    static auto apply(Compute compute, const Values &values)
    {
        return std::apply(
            [&](const auto &...value) { return compute(ArgumentKind<A>::view(value)...); }, values);
    }

    // The computation's result as a plain value or an error value. When a
    // list's items could not be read where they lie, the list is converted
    // through Python, as any other sequence, and the computation runs again:
    // the first run called no Python code and changed nothing.
    template <class Compute>
    static auto compute(Compute compute, const Slots &slots, Values &values)
    {
        auto result = apply(compute, values);
        if constexpr (sizeof...(A) != 0) {
            constexpr std::size_t last = sizeof...(A) - 1;
            using Last = std::tuple_element_t<last, std::tuple<A...>>;
            if constexpr (ConvertedLast<Last>) {
                if (!result && result.error().kind == ErrorKind::not_in_place) [[unlikely]] {
                    using Result = decltype(unwrap(std::move(result)));
                    auto converted = ArgumentKind<Last>::convert(slots[last], ListRoute::converted);
                    if (!converted) {
                        return Result(std::unexpected(wrap_argument_error(
                            std::move(converted.error()), P.names[last].view())));
                    }
                    std::get<last>(values) = std::move(*converted);
                    result = apply(compute, values);
                }
            }
        }
        return unwrap(std::move(result));
    }

private:
    template <std::size_t I>
    static std::tuple_element_t<I, Values> start()
    {
        using Holder = std::tuple_element_t<I, Values>;
        if constexpr (I < P.required) {
            return Holder{};
        }
        else {
            static_assert(std::is_integral_v<Holder> && std::in_range<Holder>(P.defaults[I]),
                          "a default is an integer that its parameter's kind holds");
            return static_cast<Holder>(P.defaults[I]);
        }
    }

    template <std::size_t I, class Holder>
    static bool convert_one(PyObject *slot, Holder &value, Expected<void> &status)
    {
        if (slot == nullptr) {
            return true;  // an optional parameter that was not given
        }
        auto converted = ArgumentKind<std::tuple_element_t<I, std::tuple<A...>>>::convert(slot);
        if (!converted) {
            status = std::unexpected(
                wrap_argument_error(std::move(converted.error()), P.names[I].view()));
            return false;
        }
        value = std::move(*converted);
        return true;
    }
};

template <Signature P, class Tuple>
struct ArgumentsFor;
template <Signature P, class... A>
struct ArgumentsFor<P, std::tuple<A...>> {
    using type = Arguments<P, A...>;
};

// Cold ends of the fast path: the same exceptions as the general path.
[[gnu::cold, gnu::noinline]] inline PyObject *raise_op_error(OpError error) noexcept
{
    return guarded([&]() -> Expected<Owned> { return std::unexpected(Error::from(error)); });
}

[[gnu::cold, gnu::noinline]] inline PyObject *failed_result() noexcept
{
    return guarded([]() -> Expected<Owned> { fail_api_call(); });
}

// A result object made without the Expected machinery; kinds with no direct
// form go through to_python.
template <class T>
PyObject *fast_result(T value) noexcept
{
    PyObject *result = nullptr;
    if constexpr (std::is_same_v<T, double>) {
        result = PyFloat_FromDouble(value);
    }
    else if constexpr (std::is_same_v<T, bool>) {
        return Py_NewRef(value ? Py_True : Py_False);
    }
    else if constexpr (std::is_same_v<T, std::int64_t>) {
        result = PyLong_FromLongLong(value);
    }
    else if constexpr (std::is_same_v<T, std::int32_t>) {
        result = PyLong_FromLong(value);
    }
    else if constexpr (std::is_same_v<T, std::uint64_t>) {
        result = PyLong_FromUnsignedLongLong(value);
    }
    else {
        return guarded([&]() -> Expected<Owned> { return to_python(value); });
    }
    if (result == nullptr) [[unlikely]] {
        return failed_result();
    }
    return result;
}

// The result object of a computation's result, or its error raised.
template <class R>
PyObject *fast_finish(R result) noexcept
{
    if constexpr (IsOutcome<R>::value) {
        if (!result) [[unlikely]] {
            return raise_op_error(result.error());
        }
        return fast_result(*result);
    }
    else {
        return fast_result(result);
    }
}

// A Call provides:
//   params                       the parameters it binds;
//   Args                         their Arguments;
//   fast_ready(self)             whether the fast tier may take the call;
//   call_fast(self, values)      the computation on values read by fast forms,
//                                no Expected, nothing that can throw;
//   call(self, slots)            the general tier, inside `guarded`.

template <class Call>
[[gnu::noinline]] PyObject *entry_general(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                                          PyObject *kwnames) noexcept
{
    return guarded([&]() -> Expected<Owned> {
        Slots slots;
        if (auto bound = bind(Call::params, args, nargs, kwnames, slots); !bound) [[unlikely]] {
            return std::unexpected(std::move(bound.error()));
        }
        return Call::call(self, slots);
    });
}

// Calls with keywords, or with arguments that are not all exact floats and
// ints, out of line.
template <class Call>
[[gnu::noinline]] PyObject *entry_keywords(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                                           PyObject *kwnames) noexcept
{
    auto values = Call::Args::initial();
    if (Call::fast_ready(self) && Call::Args::read_fast_keywords(args, nargs, kwnames, values)) {
        return Call::call_fast(self, values);
    }
    return entry_general<Call>(self, args, nargs, kwnames);
}

// Plain positional calls with exact float and int arguments stay here: no
// Expected, no slots, nothing that can throw.
template <class Call>
PyObject *entry(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) noexcept
{
    if constexpr (Call::Args::all_fast) {
        auto given = static_cast<std::size_t>(nargs);
        if (kwnames == nullptr && given >= Call::params.required && given <= Call::params.count &&
            Call::fast_ready(self)) [[likely]] {
            auto values = Call::Args::initial();
            if (Call::Args::read_fast(args, given, values)) [[likely]] {
                return Call::call_fast(self, values);
            }
        }
        return entry_keywords<Call>(self, args, nargs, kwnames);
    }
    else {
        return entry_general<Call>(self, args, nargs, kwnames);
    }
}

template <class Call>
[[gnu::noinline]] PyObject *entry_noargs_general(PyObject *self) noexcept
{
    return guarded([&]() -> Expected<Owned> { return Call::call(self, Slots{}); });
}

template <class Call>
PyObject *entry_noargs(PyObject *self, PyObject * /*unused*/) noexcept
{
    if (Call::fast_ready(self)) [[likely]] {
        return Call::call_fast(self, typename Call::Args::Values{});
    }
    return entry_noargs_general<Call>(self);
}

// CPython stores every C function as a PyCFunction and casts it back by the
// flags; the detour through void(*)() says the cast is deliberate.
template <class F>
PyCFunction as_cfunction(F *function) noexcept
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The definition CPython calls a callable through: METH_NOARGS when it
// binds no parameters.
template <class Call>
PyMethodDef definition() noexcept
{
    constexpr Signature params = Call::params;
    const char *name = Call::params.name.chars;
    const char *doc = signature_doc<params>.data();
    if constexpr (params.count == 0) {
        return {name, as_cfunction(&entry_noargs<Call>), METH_NOARGS, doc};
    }
    else {
        return {name, as_cfunction(&entry<Call>), METH_FASTCALL | METH_KEYWORDS, doc};
    }
}

// A module function: the computation on the arguments alone.
template <auto Op, Signature P>
struct FunctionCall {
    static_assert(P.surface == Surface::function);
    static constexpr const Signature &params = P;
    using Args = typename ArgumentsFor<P, typename ComputationTypes<decltype(Op)>::Args>::type;

    static constexpr bool fast_ready(PyObject * /*module*/) noexcept { return true; }

    static PyObject *call_fast(PyObject * /*module*/, const typename Args::Values &values) noexcept
    {
        return fast_finish(Args::apply(Op, values));
    }

    static Expected<Owned> call(PyObject * /*module*/, const Slots &slots)
    {
        auto values = Args::initial();
        if (auto converted = Args::convert(slots, values); !converted) [[unlikely]] {
            return std::unexpected(std::move(converted.error()));
        }
        auto value = Args::compute(Op, slots, values);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        return to_python(*value);
    }
};

}  // namespace tesmar
