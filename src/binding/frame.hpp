// The binding frame: every C entry point runs its body through `guarded`,
// and module functions are stamped out from a pure operation and its
// parameter description by `function_def`.
#pragma once

#include "binding/convert.hpp"
#include "binding/params.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace tesmar {

// Runs a body that yields a result object or an error value. No C++
// exception leaves this function.
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
    catch (...) {
        raise_panic(std::current_exception());
    }
    return nullptr;
}

// How each native parameter type is converted: `Holder` keeps the converted
// value alive for the call, `view` hands it to the operation.
template <class T>
struct Param;

template <>
struct Param<double> {
    using Holder = double;
    static Expected<double> convert(PyObject *object) { return to_real(object); }
    static double view(double value) { return value; }
};

template <>
struct Param<std::int64_t> {
    using Holder = std::int64_t;
    static Expected<std::int64_t> convert(PyObject *object) { return to_signed(object); }
    static std::int64_t view(std::int64_t value) { return value; }
};

// An optional count: empty when the caller did not pass it.
template <>
struct Param<std::optional<std::uint64_t>> {
    using Holder = std::optional<std::uint64_t>;
    static Expected<Holder> convert(PyObject *object) { return to_unsigned(object); }
    static Holder view(Holder value) { return value; }
};

template <>
struct Param<std::span<const double>> {
    using Holder = std::vector<double>;
    static Expected<Holder> convert(PyObject *object) { return to_number_list(object); }
    static std::span<const double> view(const Holder &items) { return items; }
};

template <>
struct Param<std::span<const std::int64_t>> {
    using Holder = std::vector<std::int64_t>;
    static Expected<Holder> convert(PyObject *object) { return to_integer_list(object); }
    static std::span<const std::int64_t> view(const Holder &items) { return items; }
};

// The fast form of a parameter kind: reads, without any call, an argument
// that converts without running Python code and cannot fail. A kind without
// one (the lists) always takes the general path.
template <class T>
struct Fast {
    static constexpr bool exists = false;
};

template <>
struct Fast<double> {
    static constexpr bool exists = true;
    static bool read(PyObject *object, double &value) noexcept { return read_exact(object, value); }
};

template <>
struct Fast<std::int64_t> {
    static constexpr bool exists = true;
    static bool read(PyObject *object, std::int64_t &value) noexcept
    {
        return read_exact(object, value);
    }
};

template <>
struct Fast<std::optional<std::uint64_t>> {
    static constexpr bool exists = true;
    static bool read(PyObject *object, std::optional<std::uint64_t> &value) noexcept
    {
        std::int64_t exact = 0;
        if (!read_exact(object, exact) || exact < 0) {
            return false;  // negative counts raise, on the general path
        }
        value = static_cast<std::uint64_t>(exact);
        return true;
    }
};

template <class T>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...) noexcept> {
    using Result = R;
    using Args = std::tuple<A...>;
};
template <class R, class... A>
struct Signature<R (*)(A...)> : Signature<R (*)(A...) noexcept> {};

template <class T>
struct IsOutcome : std::false_type {};
template <class T>
struct IsOutcome<Outcome<T>> : std::true_type {};

// The plain value type of an operation's result.
template <class R>
struct Unwrapped {
    using type = R;
};
template <class T>
struct Unwrapped<Outcome<T>> {
    using type = T;
};

// Converts the slots in declaration order, stopping at the first failure,
// and calls `op` with the converted values after the `leading` ones.
template <class... A, class Op, class... Leading, std::size_t... I>
auto convert_and_call(const Params &params, const Slots &slots, Op op,
                      std::tuple<Leading...> leading, std::index_sequence<I...>)
    -> Expected<typename Signature<Op>::Result>
{
    std::tuple<typename Param<A>::Holder...> holders{};
    if constexpr (sizeof...(A) > 0) {
        Expected<void> status;
        auto convert_one = [&]<std::size_t K>(std::integral_constant<std::size_t, K>) {
            using Kind = Param<std::tuple_element_t<K, std::tuple<A...>>>;
            if (slots[K] == nullptr) {
                return true;  // an optional parameter that was not given
            }
            auto converted = Kind::convert(slots[K]);
            if (!converted) {
                status = std::unexpected(
                    wrap_argument_error(std::move(converted.error()), params.names[K]));
                return false;
            }
            std::get<K>(holders) = std::move(*converted);
            return true;
        };
        if (!(convert_one(std::integral_constant<std::size_t, I>{}) && ...)) {
            return std::unexpected(std::move(status.error()));
        }
    }
    return std::apply(
        [&](auto... lead) { return op(lead..., Param<A>::view(std::get<I>(holders))...); },
        leading);
}

// Turns an operation result (a value or an Outcome) into a plain value or
// an error value.
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

template <class... A>
inline constexpr bool all_fast = (Fast<A>::exists && ...);

// Reads every given positional argument by its fast form; false when one
// has none, and the general path starts the call over.
template <class... A, std::size_t... I>
bool read_fast(PyObject *const *args, std::size_t given,
               std::tuple<typename Param<A>::Holder...> &values, std::index_sequence<I...>) noexcept
{
    return ((I >= given || Fast<A>::read(args[I], std::get<I>(values))) && ...);
}

// Slots from a call with keywords, when binding needs no message, read by
// the fast forms; false when the general path must take the call.
template <const Params &P, class... A, std::size_t... I>
bool read_fast_keywords(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                        std::tuple<typename Param<A>::Holder...> &values,
                        std::index_sequence<I...>) noexcept
{
    Slots slots;
    return bind_plain<P>(args, nargs, kwnames, slots) &&
           ((slots[I] == nullptr || Fast<A>::read(slots[I], std::get<I>(values))) && ...);
}

// Runs a module function's operation on converted values and makes its
// result, without the Expected machinery.
template <auto Op, class... A>
PyObject *call_fast(const std::tuple<typename Param<A>::Holder...> &values) noexcept
{
    auto result =
        std::apply([](const auto &...value) { return Op(Param<A>::view(value)...); }, values);
    if constexpr (IsOutcome<decltype(result)>::value) {
        if (!result) [[unlikely]] {
            return raise_op_error(result.error());
        }
        return fast_result(*result);
    }
    else {
        return fast_result(result);
    }
}

template <auto Op, const Params &P>
[[gnu::noinline]] PyObject *function_entry_general(PyObject *const *args, Py_ssize_t nargs,
                                                   PyObject *kwnames) noexcept;

// Calls with keywords, or with arguments that are not all exact floats and
// ints, out of line.
template <auto Op, const Params &P>
[[gnu::noinline]] PyObject *function_entry_keywords(PyObject *const *args, Py_ssize_t nargs,
                                                    PyObject *kwnames) noexcept
{
    using Sig = Signature<decltype(Op)>;
    return [&]<class... A>(std::tuple<A...> *) -> PyObject * {
        std::tuple<typename Param<A>::Holder...> values{};
        if (read_fast_keywords<P, A...>(args, nargs, kwnames, values,
                                        std::index_sequence_for<A...>{})) {
            return call_fast<Op, A...>(values);
        }
        return function_entry_general<Op, P>(args, nargs, kwnames);
    }(static_cast<typename Sig::Args *>(nullptr));
}

// Plain positional calls with exact float and int arguments stay here: no
// Expected, no slots, nothing that can throw.
template <auto Op, const Params &P>
PyObject *function_entry(PyObject * /*module*/, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) noexcept
{
    using Sig = Signature<decltype(Op)>;
    return [&]<class... A>(std::tuple<A...> *) -> PyObject * {
        if constexpr (all_fast<A...>) {
            auto given = static_cast<std::size_t>(nargs);
            if (kwnames == nullptr && given >= P.required && given <= P.count) [[likely]] {
                std::tuple<typename Param<A>::Holder...> values{};
                if (read_fast<A...>(args, given, values, std::index_sequence_for<A...>{}))
                    [[likely]] {
                    return call_fast<Op, A...>(values);
                }
            }
            return function_entry_keywords<Op, P>(args, nargs, kwnames);
        }
        else {
            return function_entry_general<Op, P>(args, nargs, kwnames);
        }
    }(static_cast<typename Sig::Args *>(nullptr));
}

template <auto Op, const Params &P>
PyObject *function_entry_general(PyObject *const *args, Py_ssize_t nargs,
                                 PyObject *kwnames) noexcept
{
    return guarded([&]() -> Expected<Owned> {
        Slots slots;
        if (auto bound = bind(P, args, nargs, kwnames, slots); !bound) [[unlikely]] {
            return std::unexpected(std::move(bound.error()));
        }
        using Sig = Signature<decltype(Op)>;
        auto result = [&]<class... A>(std::tuple<A...> *) {
            return convert_and_call<A...>(P, slots, Op, std::tuple<>{},
                                          std::index_sequence_for<A...>{});
        }(static_cast<typename Sig::Args *>(nullptr));
        if (!result) [[unlikely]] {
            return std::unexpected(std::move(result.error()));
        }
        auto value = unwrap(std::move(*result));
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        return to_python(*value);
    });
}

// CPython stores every C function as a PyCFunction and casts it back by the
// flags; the detour through void(*)() says the cast is deliberate.
template <class F>
PyCFunction as_cfunction(F *function) noexcept
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The method definition of a module function computing `Op`.
template <auto Op, const Params &P>
PyMethodDef function_def() noexcept
{
    static_assert(P.owner == Owner::module);
    static_assert(std::tuple_size_v<typename Signature<decltype(Op)>::Args> == P.count,
                  "the operation takes one value per parameter");
    return {P.name, as_cfunction(&function_entry<Op, P>), METH_FASTCALL | METH_KEYWORDS, P.doc};
}

}  // namespace tesmar
