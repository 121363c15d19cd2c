// Instance methods: the shared entries of the binding frame, with a
// receiver. The computation takes the stored number first, or, when it
// needs only its arguments, nothing of the receiver.
#pragma once

#include "binding/frame.hpp"
#include "number_class/number_class.hpp"

#include <cstdint>
#include <tuple>
#include <type_traits>

namespace tesmar {

// What a method does with its computation's result.
enum class WriteBack {
    none,          // shared access: reads the stored number; returns the result
    new_instance,  // stores the result; returns a new instance holding it
    plain_result,  // stores the result as a double; returns the result itself
};

template <class Tuple>
struct DropFirst;
template <class First, class... Rest>
struct DropFirst<std::tuple<First, Rest...>> {
    using type = std::tuple<Rest...>;
};

template <auto Op, Params P, WriteBack W>
struct MethodCall {
    using Computation = typename Signature<decltype(Op)>::Args;
    // The computation's parameters are the stored number and the bound
    // ones, or the bound ones alone.
    static constexpr bool reads_stored = std::tuple_size_v<Computation> == P.count + 1;
    static_assert(P.surface == Surface::method);
    static_assert(reads_stored || std::tuple_size_v<Computation> == P.count,
                  "the computation takes one value per parameter, after the stored number");
    using Bound = typename std::conditional_t<reads_stored, DropFirst<Computation>,
                                              std::type_identity<Computation>>::type;
    static_assert(
        [] {
            if constexpr (reads_stored) {
                return std::is_same_v<std::tuple_element_t<0, Computation>, double>;
            }
            return true;
        }(),
        "the stored number is a double");

    static constexpr const Params &params = P;
    using Args = typename ArgumentsFor<P, Bound>::type;

    // An exact Tesmarmath whose flag lets the access through.
    static bool fast_ready(PyObject *self) noexcept
    {
        if (!Py_IS_TYPE(self, number_type)) {
            return false;
        }
        const std::uint64_t flag = reinterpret_cast<NumberObject *>(self)->borrow_flag;
        return W == WriteBack::none ? flag != held_exclusively : flag == 0;
    }

    static auto compute(double stored, const typename Args::Values &values)
    {
        if constexpr (reads_stored) {
            return Args::apply([stored](auto... value) { return Op(stored, value...); }, values);
        }
        else {
            return Args::apply(Op, values);
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
            return fast_finish(compute(object->number, values));
        }
        else {
            const std::uint64_t free_flag = object->borrow_flag;
            object->borrow_flag = held_exclusively;
            auto result = compute(object->number, values);
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
            if constexpr (W == WriteBack::new_instance) {
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
        auto value = unwrap(compute(receiver->number(), values));
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        if constexpr (W == WriteBack::none) {
            return to_python(*value);
        }
        else {
            receiver->set_number(static_cast<double>(*value));
            if constexpr (W == WriteBack::new_instance) {
                return make_result(receiver->number());
            }
            else {
                return to_python(*value);
            }
        }
    }
};

}  // namespace tesmar
