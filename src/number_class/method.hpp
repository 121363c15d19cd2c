// Instance methods stamped out from a pure operation whose first argument
// is the stored number.
#pragma once

#include "binding/frame.hpp"
#include "number_class/number_class.hpp"

namespace tesmar {

// What a method does with the operation's result.
enum class Writes {
    nothing,          // shared access; returns the result
    result_instance,  // stores the result; returns a new instance holding it
    value,            // stores the result as a double; returns the result itself
};

template <auto Op, const Params &P, Writes W>
Expected<Owned> method_body(PyObject *self, const Slots &slots)
{
    constexpr Access access = W == Writes::nothing ? Access::shared : Access::exclusive;
    auto receiver = Receiver<access>::take(self);
    if (!receiver) [[unlikely]] {
        return std::unexpected(std::move(receiver.error()));
    }
    using Sig = Signature<decltype(Op)>;
    auto result = [&]<class Stored, class... A>(std::tuple<Stored, A...> *) {
        static_assert(std::is_same_v<Stored, double>,
                      "a method's operation starts with the stored number");
        return convert_and_call<A...>(P, slots, Op, std::tuple<double>{receiver->number()},
                                      std::index_sequence_for<A...>{});
    }(static_cast<typename Sig::Args *>(nullptr));
    if (!result) [[unlikely]] {
        return std::unexpected(std::move(result.error()));
    }
    auto value = unwrap(std::move(*result));
    if (!value) {
        return std::unexpected(std::move(value.error()));
    }
    if constexpr (W == Writes::result_instance) {
        static_assert(std::is_same_v<std::remove_cvref_t<decltype(*value)>, double>);
        receiver->set_number(*value);
        return make_result(*value);
    }
    else if constexpr (W == Writes::value) {
        receiver->set_number(static_cast<double>(*value));
        return to_python(*value);
    }
    else {
        return to_python(*value);
    }
}

template <auto Op, const Params &P, Writes W>
[[gnu::noinline]] PyObject *method_noargs_general(PyObject *self) noexcept
{
    return guarded([&]() -> Expected<Owned> { return method_body<Op, P, W>(self, Slots{}); });
}

template <auto Op, const Params &P, Writes W>
[[gnu::noinline]] PyObject *method_entry_general(PyObject *self, PyObject *const *args,
                                                 Py_ssize_t nargs, PyObject *kwnames) noexcept;

// The fast path: an exact Tesmarmath whose flag lets the access through, and
// arguments that all have fast forms (checked by the caller). The flag is
// still taken for the operation: one that polls for signals may run a Python
// handler, which must meet it as on the general path.
template <auto Op, Writes W, class... A>
PyObject *method_fast(NumberObject *object,
                      const std::tuple<typename Param<A>::Holder...> &values) noexcept
{
    auto compute = [&] {
        return std::apply(
            [&](const auto &...value) { return Op(object->number, Param<A>::view(value)...); },
            values);
    };
    if constexpr (W == Writes::nothing) {
        // The reading operations are pure and run no Python code, so a
        // shared hold taken here could never be observed.
        return fast_result(compute());
    }
    else {
        const std::uint64_t free_flag = object->borrow_flag;
        object->borrow_flag = held_exclusively;
        auto result = compute();
        object->borrow_flag = free_flag;  // nothing below runs Python code
        if constexpr (IsOutcome<decltype(result)>::value) {
            if (!result) [[unlikely]] {
                return raise_op_error(result.error());
            }
        }
        const auto value = [&] {
            if constexpr (IsOutcome<decltype(result)>::value) {
                return *result;
            }
            else {
                return result;
            }
        }();
        object->number = static_cast<double>(value);
        if constexpr (W == Writes::result_instance) {
            PyObject *made = allocate_instance(number_type_holder, object->number);
            return made != nullptr ? made : failed_result();
        }
        else {
            return fast_result(value);
        }
    }
}

// Whether the flag admits the method's access; a refusal takes the general
// path, which raises it.
template <Writes W>
bool access_free(PyObject *self) noexcept
{
    const std::uint64_t flag = reinterpret_cast<NumberObject *>(self)->borrow_flag;
    return W == Writes::nothing ? flag != held_exclusively : flag == 0;
}

// Calls with keywords, or with arguments that are not all exact floats and
// ints, out of line.
template <auto Op, const Params &P, Writes W>
[[gnu::noinline]] PyObject *method_entry_keywords(PyObject *self, PyObject *const *args,
                                                  Py_ssize_t nargs, PyObject *kwnames) noexcept
{
    using Sig = Signature<decltype(Op)>;
    return [&]<class Stored, class... A>(std::tuple<Stored, A...> *) -> PyObject * {
        std::tuple<typename Param<A>::Holder...> values{};
        if (Py_IS_TYPE(self, number_type_holder) && access_free<W>(self) &&
            read_fast_keywords<P, A...>(args, nargs, kwnames, values,
                                        std::index_sequence_for<A...>{})) {
            return method_fast<Op, W, A...>(reinterpret_cast<NumberObject *>(self), values);
        }
        return method_entry_general<Op, P, W>(self, args, nargs, kwnames);
    }(static_cast<typename Sig::Args *>(nullptr));
}

template <auto Op, const Params &P, Writes W>
PyObject *method_entry(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                       PyObject *kwnames) noexcept
{
    using Sig = Signature<decltype(Op)>;
    return [&]<class Stored, class... A>(std::tuple<Stored, A...> *) -> PyObject * {
        if constexpr (all_fast<A...>) {
            auto given = static_cast<std::size_t>(nargs);
            if (kwnames == nullptr && given >= P.required && given <= P.count &&
                Py_IS_TYPE(self, number_type_holder) && access_free<W>(self)) [[likely]] {
                std::tuple<typename Param<A>::Holder...> values{};
                if (read_fast<A...>(args, given, values, std::index_sequence_for<A...>{}))
                    [[likely]] {
                    return method_fast<Op, W, A...>(reinterpret_cast<NumberObject *>(self), values);
                }
            }
            return method_entry_keywords<Op, P, W>(self, args, nargs, kwnames);
        }
        else {
            return method_entry_general<Op, P, W>(self, args, nargs, kwnames);
        }
    }(static_cast<typename Sig::Args *>(nullptr));
}

template <auto Op, const Params &P, Writes W>
PyObject *method_entry_general(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                               PyObject *kwnames) noexcept
{
    return guarded([&]() -> Expected<Owned> {
        Slots slots;
        if (auto bound = bind(P, args, nargs, kwnames, slots); !bound) [[unlikely]] {
            return std::unexpected(std::move(bound.error()));
        }
        return method_body<Op, P, W>(self, slots);
    });
}

template <auto Op, const Params &P, Writes W>
PyObject *method_noargs_entry(PyObject *self, PyObject * /*unused*/) noexcept
{
    if (Py_IS_TYPE(self, number_type_holder) && access_free<W>(self)) [[likely]] {
        return method_fast<Op, W>(reinterpret_cast<NumberObject *>(self), std::tuple<>{});
    }
    return method_noargs_general<Op, P, W>(self);
}

// The method definition for `Op`: METH_NOARGS when it takes no parameters.
template <auto Op, const Params &P, Writes W>
PyMethodDef method_def() noexcept
{
    static_assert(P.owner == Owner::number_class);
    static_assert(std::tuple_size_v<typename Signature<decltype(Op)>::Args> == P.count + 1,
                  "the operation takes the stored number and one value per parameter");
    if constexpr (P.count == 0) {
        return {P.name, as_cfunction(&method_noargs_entry<Op, P, W>), METH_NOARGS, P.doc};
    }
    else {
        return {P.name, as_cfunction(&method_entry<Op, P, W>), METH_FASTCALL | METH_KEYWORDS,
                P.doc};
    }
}

}  // namespace tesmar
