#include "number_class/number_class.hpp"

#include "binding/frame.hpp"
#include "number_class/text_form.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace tesmar {
namespace {

constexpr std::array<Parameter, 1> constructor_parameters{Parameter("number")};
// The constructor binds like a method named __new__, for its messages; the
// class shows the signature "(number)".
constexpr auto new_signature =
    signature_of<Surface::method, "__new__", 1, constructor_parameters>();
constexpr auto class_signature =
    signature_of<Surface::function, texts::class_name, 1, constructor_parameters>();

// The constructor as a Call of the frame: a new instance of the class
// (`type`, the receiver of the call) holding the converted number.
struct ConstructorCall {
    static constexpr auto signature = new_signature;
    using Bound = Arguments<new_signature, double>;

    [[gnu::always_inline]] static Result<Owned> run(PyObject *type, const Slots<1> &slots)
    {
        double number = 0.0;
        {
            auto converted = Bound::convert(slots);
            if (!converted) [[unlikely]] {
                return std::unexpected(std::move(converted).error());
            }
            number = std::get<0>(*converted);
        }
        return allocate_instance(reinterpret_cast<PyTypeObject *>(type), number);
    }
};

// The class's module and name, "builtins.Tesmarmath", made while building.
constexpr auto type_name = [] {
    std::array<char, sizeof texts::class_module + sizeof texts::class_name> text{};
    auto *end = std::copy_n(texts::class_module, sizeof texts::class_module - 1, text.data());
    *end++ = '.';
    std::copy_n(texts::class_name, sizeof texts::class_name, end);
    return text;
}();

// Tesmarmath(number): calling the class calls this directly.
PyObject *number_vectorcall(PyObject *type, PyObject *const *args, std::size_t nargsf,
                            PyObject *kwnames) noexcept
{
    return entry<ConstructorCall>(type, args, PyVectorcall_NARGS(nargsf), kwnames);
}

// A keyword dictionary spread out as a vectorcall's keywords: the values
// after the positional arguments, the names in a tuple. The dictionary's
// keys come from the caller, so each is checked to be a str first.
struct SpreadKeywords {
    std::vector<PyObject *> values;
    Owned names;
};

Result<SpreadKeywords> spread_keywords(PyObject *const *positional, Py_ssize_t nargs,
                                       PyObject *kwargs)
{
    SpreadKeywords spread{{positional, positional + nargs}, {}};
    spread.names = Owned::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    if (!spread.names) {
        return fail_with_raised();  // MemoryError, as in the call itself
    }
    Py_ssize_t position = 0;
    PyObject *name = nullptr;
    PyObject *value = nullptr;
    for (Py_ssize_t k = 0; PyDict_Next(kwargs, &position, &name, &value); ++k) {
        if (!PyUnicode_Check(name)) {
            return fail_with(PyExc_TypeError, texts::keywords_must_be_strings);
        }
        PyTuple_SET_ITEM(spread.names.get(), k, Py_NewRef(name));
        spread.values.push_back(value);
    }
    return spread;
}

// Tesmarmath.__new__(Tesmarmath, ...): the same call, its keyword
// dictionary spread out as a vectorcall's keywords.
PyObject *number_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) noexcept
{
    auto *self = reinterpret_cast<PyObject *>(type);
    PyObject *const *positional = reinterpret_cast<PyTupleObject *>(args)->ob_item;
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
        return entry<ConstructorCall>(self, positional, nargs, nullptr);
    }
    Result<SpreadKeywords> spread;
    try {
        spread = spread_keywords(positional, nargs, kwargs);
    }
    catch (...) {
        raise_thrown(std::current_exception());
        return nullptr;
    }
    if (!spread) {
        raise_failure(std::move(spread).error());
        return nullptr;
    }
    return entry<ConstructorCall>(self, spread->values.data(), nargs, spread->names.get());
}

Owned to_str(const std::string &text)
{
    return infallible(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyObject *number_repr(PyObject *self) noexcept
{
    return guarded([&]() -> Result<Owned> {
        const Receiver<Access::shared> receiver(self);
        if (!receiver) {
            return std::unexpected(receiver.failure());
        }
        return to_str(
            tesmar::fill(texts::repr_format, texts::class_name, text_form(receiver.number())));
    });
}

PyObject *number_str(PyObject *self) noexcept
{
    return guarded([&]() -> Result<Owned> {
        const Receiver<Access::shared> receiver(self);
        if (!receiver) {
            return std::unexpected(receiver.failure());
        }
        return to_str(text_form(receiver.number()));
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

Result<PyTypeObject *> create_number_type(PyMethodDef *methods)
{
    std::array slots = {
        PyType_Slot{Py_tp_base, &PyBaseObject_Type},
        PyType_Slot{Py_tp_new, reinterpret_cast<void *>(&number_new)},
        PyType_Slot{Py_tp_repr, reinterpret_cast<void *>(&number_repr)},
        PyType_Slot{Py_tp_str, reinterpret_cast<void *>(&number_str)},
        PyType_Slot{Py_tp_dealloc, reinterpret_cast<void *>(&number_dealloc)},
        PyType_Slot{Py_tp_doc, const_cast<char *>(text_signature_doc<class_signature>())},
        PyType_Slot{Py_tp_methods, methods},
        PyType_Slot{0, nullptr},
    };
    PyType_Spec type_spec = {
        type_name.data(), sizeof(NumberObject), 0, Py_TPFLAGS_DEFAULT, slots.data(),
    };
    number_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&type_spec));
    if (number_type == nullptr) {
        return fail_with_raised();
    }
    // Calling the class skips type.__call__ and binds as every other
    // callable does.
    number_type->tp_vectorcall = number_vectorcall;
    return number_type;
}

Failure foreign_receiver(PyObject *self)
{
    return Failure::of(PyExc_TypeError, tesmar::fill(texts::not_an_instance,
                                                     qualified_type_name(self), texts::class_name));
}

}  // namespace tesmar
