#include "number_class/number_class.hpp"

#include "binding/frame.hpp"
#include "number_class/text_form.hpp"

#include <array>
#include <string>

namespace tesmar {
namespace {

constexpr ParameterList constructor_parameters{"number"};
// The constructor binds like a method named __new__, for its messages; the
// class shows the signature "(number)".
constexpr Signature new_params{Surface::method, "__new__", constructor_parameters};
constexpr Signature class_signature{Surface::function, "Tesmarmath", constructor_parameters};
using ConstructorArguments = Arguments<new_params, double>;

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
        auto values = ConstructorArguments::initial();
        if (auto converted = ConstructorArguments::convert(slots, values); !converted) {
            return std::unexpected(std::move(converted.error()));
        }
        Owned object = Owned::steal(allocate_instance(type, std::get<0>(values)));
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

}  // namespace

PyTypeObject *number_type = nullptr;

PyTypeObject *create_number_type(PyMethodDef *methods) noexcept
{
    std::array slots = {
        PyType_Slot{Py_tp_base, &PyBaseObject_Type},
        PyType_Slot{Py_tp_new, reinterpret_cast<void *>(&number_new)},
        PyType_Slot{Py_tp_repr, reinterpret_cast<void *>(&number_repr)},
        PyType_Slot{Py_tp_str, reinterpret_cast<void *>(&number_str)},
        PyType_Slot{Py_tp_dealloc, reinterpret_cast<void *>(&number_dealloc)},
        PyType_Slot{Py_tp_doc, const_cast<char *>(signature_doc<class_signature>.data())},
        PyType_Slot{Py_tp_methods, methods},
        PyType_Slot{0, nullptr},
    };
    PyType_Spec type_spec = {
        "builtins.Tesmarmath", sizeof(NumberObject), 0, Py_TPFLAGS_DEFAULT, slots.data(),
    };
    number_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&type_spec));
    return number_type;
}

Owned make_result(double value)
{
    Owned object = Owned::steal(allocate_instance(number_type, value));
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
