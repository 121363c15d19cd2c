// The entry point and the module body: the class, the module functions and
// the constants, each name appended to __all__ as it is added.
#include "binding/frame.hpp"
#include "number_class/number_class.hpp"
#include "ops/ops.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <numbers>

namespace tesmar {
namespace {

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "tesmar_math", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The first interpreter to import us; others are refused.
std::atomic<std::int64_t> recorded_interpreter{-1};
// The module once built: every later import gets this same object.
PyObject *module_cell = nullptr;

const std::array module_functions = {
    &ops::sum_of_function,
    &ops::dif_of_function,
    &ops::div_of_function,
    &ops::int_div_of_function,
    &ops::mult_of_function,
    &ops::square_function,
    &ops::cube_function,
    &ops::power_function,
    &ops::square_root_function,
    &ops::cube_root_function,
    &ops::factorial_function,
    &ops::gcd_with_int_function,
    &ops::gcd_with_float_function,
    &ops::lcm_with_function,
    &ops::floor_function,
    &ops::ceil_function,
    &ops::is_positive_function,
    &ops::is_negative_function,
    &ops::is_integer_function,
    &ops::sign_function,
    &ops::is_even_function,
    &ops::is_odd_function,
    &ops::cos_function,
    &ops::sin_function,
    &ops::tan_function,
    &ops::tetration_function,
};

PyObject *interned(PyObject *&holder, const char *text)
{
    if (holder == nullptr) {
        holder = checked(PyUnicode_InternFromString(text)).release();
    }
    return holder;
}

PyObject *all_name()
{
    static PyObject *holder = nullptr;
    return interned(holder, "__all__");
}

PyObject *name_name()
{
    static PyObject *holder = nullptr;
    return interned(holder, "__name__");
}

// Appends `name` to __all__ (creating the list on the first add), then sets
// the attribute.
Expected<void> add(PyObject *module, PyObject *name, PyObject *value)
{
    Owned all = Owned::steal(PyObject_GetAttr(module, all_name()));
    if (!all) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError) == 0) {
            return std::unexpected(Error::fetch());
        }
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttr(module, all_name(), all.get()) < 0) {
            return std::unexpected(Error::fetch());
        }
    }
    if (PyList_Append(all.get(), name) < 0) {
        PyErr_Print();
        fail("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) < 0) {
        return std::unexpected(Error::fetch());
    }
    return {};
}

Expected<void> add(PyObject *module, const char *name, PyObject *value)
{
    Owned key = checked(PyUnicode_FromString(name));
    return add(module, key.get(), value);
}

Expected<void> add_function(PyObject *module, PyMethodDef *def)
{
    Owned module_name = Owned::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return std::unexpected(Error::fetch());
    }
    Owned function = Owned::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!function) {
        return std::unexpected(Error::fetch());
    }
    Owned name = Owned::steal(PyObject_GetAttr(function.get(), name_name()));
    if (!name) {
        return std::unexpected(Error::fetch());
    }
    return add(module, name.get(), function.get());
}

Expected<void> add_float(PyObject *module, const char *name, double value)
{
    Owned number = checked(PyFloat_FromDouble(value));
    return add(module, name, number.get());
}

Expected<void> module_body(PyObject *module)
{
    PyTypeObject *type = number_type_or_null();
    if (type == nullptr) {
        Owned cause = Error::fetch().to_exception();
        Owned error =
            std::move(Error::make(PyExc_RuntimeError,
                                  "An error occurred while initializing class Tesmarmath"))
                .to_exception();
        PyException_SetCause(error.get(), cause.release());
        return std::unexpected(Error::from_exception(std::move(error)));
    }
    if (auto added = add(module, "Tesmarmath", reinterpret_cast<PyObject *>(type)); !added) {
        return added;
    }
    for (PyMethodDef *def : module_functions) {
        if (auto added = add_function(module, def); !added) {
            return added;
        }
    }
    if (auto added = add_float(module, "number_pi", std::numbers::pi); !added) {
        return added;
    }
    if (auto added = add_float(module, "number_e", std::numbers::e); !added) {
        return added;
    }
    return add_float(module, "infinity", std::numeric_limits<double>::infinity());
}

Expected<Owned> initialise()
{
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return std::unexpected(Error::fetch());
    }
    std::int64_t expected = -1;
    if (!recorded_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        return std::unexpected(Error::make(
            PyExc_ImportError,
            "tesmar_math does not yet support sub-interpreters: it can be imported only by the "
            "first interpreter that loaded it (see the project's issue tracker)"));
    }
    if (module_cell != nullptr) {
        return Owned::borrow(module_cell);
    }
    Owned module = Owned::steal(PyModule_Create2(&definition, 1013));
    if (!module) {
        return std::unexpected(Error::fetch());
    }
    if (auto built = module_body(module.get()); !built) {
        return std::unexpected(std::move(built.error()));
    }
    if (module_cell == nullptr) {
        module_cell = module.release();
    }
    return Owned::borrow(module_cell);
}

}  // namespace
}  // namespace tesmar

PyMODINIT_FUNC PyInit_tesmar_math() { return tesmar::guarded(tesmar::initialise); }
