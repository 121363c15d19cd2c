#include "number_class/number_class.hpp"

#include "binding/frame.hpp"
#include "number_class/method.hpp"
#include "number_class/text_form.hpp"
#include "ops/ops.hpp"

#include <array>
#include <string>

namespace tesmar {
namespace {

double get_number(double number) noexcept { return number; }
constexpr Params get_number_params{"get_number($self)\n--\n\n", Owner::number_class};
PyMethodDef get_number_method = method_def<&get_number, get_number_params, Writes::nothing>();

// The constructor binds like a method named __new__, for its messages.
constexpr Params new_params{"__new__($self, number)\n--\n\n", Owner::number_class};

[[gnu::cold]] PyObject *allocation_failed() noexcept
{
    return guarded([]() -> Expected<Owned> { return std::unexpected(Error::fetch()); });
}

PyObject *number_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) noexcept
{
    // One exact float or int, by position: nothing to report but allocation.
    if (double value = 0.0; kwargs == nullptr && PyTuple_GET_SIZE(args) == 1 &&
                            read_exact(PyTuple_GET_ITEM(args, 0), value)) [[likely]] {
        PyObject *object = allocate_instance(type, value);
        return object != nullptr ? object : allocation_failed();
    }
    return guarded([&]() -> Expected<Owned> {
        Slots slots;
        if (auto bound = bind_tuple(new_params, args, kwargs, slots); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        auto number = to_real(slots[0]);
        if (!number) {
            return std::unexpected(wrap_argument_error(std::move(number.error()), "number"));
        }
        Owned object = Owned::steal(allocate_instance(type, *number));
        if (!object) {
            return std::unexpected(Error::fetch());
        }
        return object;
    });
}

Owned to_str(const std::string &text)
{
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyObject *number_repr(PyObject *self) noexcept
{
    return guarded([&]() -> Expected<Owned> {
        auto receiver = Receiver<Access::shared>::take(self);
        if (!receiver) {
            return std::unexpected(std::move(receiver.error()));
        }
        return to_str("Tesmarmath(" + text_form(receiver->number()) + ")");
    });
}

PyObject *number_str(PyObject *self) noexcept
{
    return guarded([&]() -> Expected<Owned> {
        auto receiver = Receiver<Access::shared>::take(self);
        if (!receiver) {
            return std::unexpected(std::move(receiver.error()));
        }
        return to_str(text_form(receiver->number()));
    });
}

void number_dealloc(PyObject *self) noexcept
{
    PyTypeObject *type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);  // heap types: every instance holds its type
}

// The class's methods in their published order.
constexpr std::size_t method_count = 27;
const std::array<const PyMethodDef *, method_count> method_order = {
    &get_number_method,      &ops::sum_of_method,       &ops::dif_of_method,
    &ops::div_of_method,     &ops::int_div_of_method,   &ops::mult_of_method,
    &ops::square_method,     &ops::cube_method,         &ops::power_method,
    &ops::power_of_2_method, &ops::square_root_method,  &ops::cube_root_method,
    &ops::factorial_method,  &ops::gcd_with_int_method, &ops::gcd_with_float_method,
    &ops::lcm_with_method,   &ops::floor_method,        &ops::ceil_method,
    &ops::sign_method,       &ops::is_positive_method,  &ops::is_negative_method,
    &ops::is_even_method,    &ops::is_odd_method,       &ops::cos_method,
    &ops::sin_method,        &ops::tan_method,          &ops::tetration_method,
};

// The type keeps pointers into this table, so it lives for the process.
std::array<PyMethodDef, method_count + 1> method_table{};

}  // namespace

PyTypeObject *number_type_holder = nullptr;  // kept for the rest of the process

PyTypeObject *create_number_type() noexcept
{
    for (std::size_t i = 0; i < method_count; ++i) {
        method_table[i] = *method_order[i];
    }
    std::array slots = {
        PyType_Slot{Py_tp_base, &PyBaseObject_Type},
        PyType_Slot{Py_tp_new, reinterpret_cast<void *>(&number_new)},
        PyType_Slot{Py_tp_repr, reinterpret_cast<void *>(&number_repr)},
        PyType_Slot{Py_tp_str, reinterpret_cast<void *>(&number_str)},
        PyType_Slot{Py_tp_dealloc, reinterpret_cast<void *>(&number_dealloc)},
        PyType_Slot{Py_tp_doc, const_cast<char *>("Tesmarmath(number)\n--\n\n")},
        PyType_Slot{Py_tp_methods, method_table.data()},
        PyType_Slot{0, nullptr},
    };
    PyType_Spec type_spec = {
        "builtins.Tesmarmath", sizeof(NumberObject), 0, Py_TPFLAGS_DEFAULT, slots.data(),
    };
    number_type_holder = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&type_spec));
    return number_type_holder;
}

void no_number_type()
{
    PyErr_PrintEx(0);
    fail("failed to create type object for Tesmarmath");
}

Owned make_result(double value)
{
    Owned object = Owned::steal(allocate_instance(number_type(), value));
    if (!object) [[unlikely]] {
        fail_api_call();
    }
    return object;
}

Error foreign_receiver(PyObject *self)
{
    return Error::make(PyExc_TypeError, "'" + qualified_type_name(self) +
                                            "' object cannot be converted to 'Tesmarmath'");
}

}  // namespace tesmar
