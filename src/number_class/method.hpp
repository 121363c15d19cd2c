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
PyObject *method_entry(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
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
    return guarded([&]() -> Expected<Owned> { return method_body<Op, P, W>(self, Slots{}); });
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
