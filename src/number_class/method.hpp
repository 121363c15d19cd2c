// Instance methods: the shared entries of the binding frame, with a
// receiver. A method's declaration says what its computation takes (the
// stored number first, or only the bound arguments) and what it writes
// back; the build checks the first against the computation's parameters.
#pragma once

#include "binding/frame.hpp"
#include "number_class/number_class.hpp"

#include <cstdint>
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

// The bound parameters' types: the computation's, less the stored number.
template <class Computation, Takes T>
struct BoundTypes {
    using type = Computation;
};
template <class First, class... Rest>
struct BoundTypes<std::tuple<First, Rest...>, Takes::stored_number> {
    using type = std::tuple<Rest...>;
};

template <auto Op, Signature P, Takes T, WriteBack W>
struct MethodCall {
    static_assert(P.surface == Surface::method);
    static constexpr const Signature &params = P;
    using Args = typename ArgumentsFor<
        P, typename BoundTypes<typename ComputationTypes<decltype(Op)>::Args, T>::type>::type;

    // An exact Tesmarmath whose flag lets the access through.
    static bool fast_ready(PyObject *self) noexcept
    {
        if (!Py_IS_TYPE(self, number_type)) {
            return false;
        }
        const std::uint64_t flag = reinterpret_cast<NumberObject *>(self)->borrow_flag;
        return W == WriteBack::none ? flag != held_exclusively : flag == 0;
    }

    // The computation as a function of the bound arguments alone.
    static auto with_stored(double stored)
    {
        if constexpr (T == Takes::stored_number) {
            return [stored](auto... value) { return Op(stored, value...); };
        }
        else {
            return Op;
        }
    }

    // The flag is still taken for a computing method: one that polls for
    // signals may run a Python handler, which must meet it as on the general
    // path.
    static PyObject *call_fast(PyObject *self, const typename Args::Values &values) noexcept
    {
        auto *object = reinterpret_cast<NumberObject *>(self);
        if constexpr (W == WriteBack::none) {
            // The reading computations are pure and run no Python code, so a
            // shared hold taken here could never be observed.
            return fast_finish(Args::apply(with_stored(object->number), values));
        }
        else {
            const std::uint64_t free_flag = object->borrow_flag;
            object->borrow_flag = held_exclusively;
            auto result = Args::apply(with_stored(object->number), values);
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
            if constexpr (W == WriteBack::store_new_instance) {
                PyObject *made = allocate_instance(number_type, object->number);
                return made != nullptr ? made : failed_result();
            }
            else {
                return fast_result(value);
            }
        }
    }

    static Expected<Owned> call(PyObject *self, const Slots &slots)
    {
        constexpr Access access = W == WriteBack::none ? Access::shared : Access::exclusive;
        auto receiver = Receiver<access>::take(self);
        if (!receiver) [[unlikely]] {
            return std::unexpected(std::move(receiver.error()));
        }
        auto values = Args::initial();
        if (auto converted = Args::convert(slots, values); !converted) [[unlikely]] {
            return std::unexpected(std::move(converted.error()));
        }
        auto value = Args::compute(with_stored(receiver->number()), slots, values);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        if constexpr (W == WriteBack::none) {
            return to_python(*value);
        }
        else {
            receiver->set_number(static_cast<double>(*value));
            if constexpr (W == WriteBack::store_new_instance) {
                return make_result(receiver->number());
            }
            else {
                return to_python(*value);
            }
        }
    }
};

}  // namespace tesmar
