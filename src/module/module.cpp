// The entry point and the module body: the class, the module functions and
// the constants, each name appended to __all__ as it is added.
//
// The published orders below are checked against every declared callable
// while the module is built: a name listed twice, a name that names nothing
// and a declared callable left out of its order all stop the build.
#include "binding/frame.hpp"
#include "number_class/callable.hpp"
#include "number_class/number_class.hpp"
// Each family's header declares its computations and the tuple `callables`.
#include "ops/factorial_tetration.hpp"
#include "ops/gcd_lcm.hpp"
#include "ops/list_arithmetic.hpp"
#include "ops/powers_roots.hpp"
#include "ops/rounding_predicates.hpp"
#include "ops/trigonometric_series.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

// The module's texts: callers match on these, so they never change.
namespace tesmar::texts {
inline constexpr char module_name[] = "tesmar_math";
inline constexpr char module_doc[] = "";
inline constexpr char class_init_failed[] = "An error occurred while initializing class {}";
inline constexpr char sub_interpreters_refused[] =
    "tesmar_math does not yet support sub-interpreters: it can be imported only by the first "
    "interpreter that loaded it (see the project's issue tracker)";
inline constexpr char append_to_all_failed[] = "could not append __name__ to __all__";
}  // namespace tesmar::texts

namespace tesmar {
namespace {

// Every declared callable.
constexpr auto callables =
    std::tuple_cat(class_callables, ops::list_arithmetic::callables, ops::powers_roots::callables,
                   ops::factorial_tetration::callables, ops::gcd_lcm::callables,
                   ops::rounding_predicates::callables, ops::trigonometric_series::callables);

// A published order: the names of callables offered on surface S.
template <Surface S, FixedName... Names>
struct Order {
    static constexpr std::array<std::string_view, sizeof...(Names)> names{Names.view()...};
};

// The module's functions, added after the class and before the constants.
using FunctionOrder =
    Order<Surface::function, "sum_of", "dif_of", "div_of", "int_div_of", "mult_of", "square",
          "cube", "power", "square_root", "cube_root", "factorial", "gcd_with_int",
          "gcd_with_float", "lcm_with", "floor", "ceil", "is_positive", "is_negative", "is_integer",
          "sign", "is_even", "is_odd", "cos", "sin", "tan", "tetration">;

// The class's methods, in the order of its method table.
using MethodOrder =
    Order<Surface::method, "get_number", "sum_of", "dif_of", "div_of", "int_div_of", "mult_of",
          "square", "cube", "power", "power_of_2", "square_root", "cube_root", "factorial",
          "gcd_with_int", "gcd_with_float", "lcm_with", "floor", "ceil", "sign", "is_positive",
          "is_negative", "is_even", "is_odd", "cos", "sin", "tan", "tetration">;

template <Surface S>
using OrderOn = std::conditional_t<S == Surface::function, FunctionOrder, MethodOrder>;

constexpr std::size_t declared_count = std::tuple_size_v<decltype(callables)>;

// Whether declaration I offers surface S.
template <Surface S, std::size_t I>
consteval bool offers()
{
    using Declared = std::tuple_element_t<I, decltype(callables)>;
    if constexpr (S == Surface::function) {
        return Declared::has_function;
    }
    else {
        return Declared::has_method;
    }
}

// How often `name` stands in the published order of S.
template <Surface S>
consteval std::size_t times_listed(std::string_view name)
{
    return static_cast<std::size_t>(std::ranges::count(OrderOn<S>::names, name));
}

struct Found {
    std::size_t count;  // declarations of the name
    std::size_t first;  // the position of the first in `callables`
};

// The declarations that offer `name` on S.
template <Surface S>
consteval Found declarations_of(std::string_view name)
{
    std::size_t count = 0;
    std::size_t first = 0;
    auto visit = [&](std::size_t position, bool matches) {
        if (matches && count++ == 0) {
            first = position;
        }
    };
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (visit(I, offers<S, I>() && std::get<I>(callables).name.view() == name), ...);
    }(std::make_index_sequence<declared_count>{});
    return {count, first};
}

// The declaration that the published name N stands for on S.
template <Surface S, FixedName N>
consteval std::size_t declaration_named()
{
    constexpr Found found = declarations_of<S>(N.view());
    static_assert(found.count != 0, "a published name names no declared callable of its surface");
    static_assert(found.count < 2, "a published name is declared more than once");
    static_assert(times_listed<S>(N.view()) == 1, "a name is listed twice in its published order");
    return found.first;
}

// Declaration I, when it offers S, is listed in the published order of S.
template <Surface S, std::size_t I, FixedName N = std::get<I>(callables).name>
consteval bool listed_if_offered()
{
    if constexpr (offers<S, I>()) {
        static_assert(times_listed<S>(N.view()) != 0,
                      "a declared callable is missing from its published order");
    }
    return true;
}

// Every declaration that offers S is listed in the published order of S.
template <Surface S>
consteval bool every_declaration_listed()
{
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (listed_if_offered<S, I>() && ...);
    }(std::make_index_sequence<declared_count>{});
}
static_assert(every_declaration_listed<Surface::function>());
static_assert(every_declaration_listed<Surface::method>());

// Stops the build for a declaration the binding cannot serve: the first
// line of the compiler's report names the callable and the reason.
template <FixedName Callable, Refusal Why>
struct cannot_serve {
    static_assert(
        Why == Refusal::none,
        "the binding cannot serve this declaration: the report's first line names it and why");
    static constexpr bool served = true;
};

// Declaration K, when it offers S, is one the binding serves there.
template <Surface S, std::size_t K>
consteval bool served()
{
    if constexpr (offers<S, K>()) {
        using Served = Serving<callables, K, S>;
        return cannot_serve<Served::declared.name, Served::refusal()>::served;
    }
    return true;
}

template <Surface S>
consteval bool every_declaration_served()
{
    return [&]<std::size_t... K>(std::index_sequence<K...>) {
        return (served<S, K>() && ...);
    }(std::make_index_sequence<declared_count>{});
}
static_assert(every_declaration_served<Surface::function>());
static_assert(every_declaration_served<Surface::method>());

// The PyMethodDef of declaration K on surface S (an empty one, once the
// build has stopped, for a declaration the binding cannot serve).
template <Surface S, std::size_t K>
PyMethodDef method_def_of() noexcept
{
    using Served = Serving<callables, K, S>;
    if constexpr (Served::refusal() == Refusal::none) {
        return Served::method_def();
    }
    else {
        return {};
    }
}

// The PyMethodDefs in a published order, then the zeroed entry that ends a
// CPython method table.
template <Surface S, FixedName... Names>
std::array<PyMethodDef, sizeof...(Names) + 1> table(Order<S, Names...> /*order*/) noexcept
{
    return {method_def_of<S, declaration_named<S, Names>()>()..., PyMethodDef{}};
}

// The function objects and the type keep pointers into these tables, so
// they live for the process.
std::array function_table = table(FunctionOrder{});
std::array method_table = table(MethodOrder{});

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    texts::module_name,
    texts::module_doc,
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The first interpreter to import us; others are refused.
std::atomic<std::int64_t> recorded_interpreter{-1};
// The module once built: every later import gets this same object.
PyObject *module_cell = nullptr;

PyObject *interned(PyObject *&holder, const char *text)
{
    if (holder == nullptr) {
        holder = infallible(PyUnicode_InternFromString(text)).release();
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
Result<void> add(PyObject *module, PyObject *name, PyObject *value)
{
    Owned all = Owned::steal(PyObject_GetAttr(module, all_name()));
    if (!all) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError) == 0) {
            return fail_with_raised();
        }
        PyErr_Clear();
        all = infallible(PyList_New(0));
        if (PyObject_SetAttr(module, all_name(), all.get()) < 0) {
            return fail_with_raised();
        }
    }
    if (PyList_Append(all.get(), name) < 0) {
        PyErr_Print();
        panic(texts::append_to_all_failed);
    }
    if (PyObject_SetAttr(module, name, value) < 0) {
        return fail_with_raised();
    }
    return {};
}

Result<void> add(PyObject *module, const char *name, PyObject *value)
{
    Owned key = infallible(PyUnicode_FromString(name));
    return add(module, key.get(), value);
}

Result<void> add_function(PyObject *module, PyMethodDef *def)
{
    Owned module_name = Owned::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return fail_with_raised();
    }
    Owned function = Owned::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!function) {
        return fail_with_raised();
    }
    Owned name = Owned::steal(PyObject_GetAttr(function.get(), name_name()));
    if (!name) {
        return fail_with_raised();
    }
    return add(module, name.get(), function.get());
}

Result<void> add_float(PyObject *module, const char *name, double value)
{
    Owned number = infallible(PyFloat_FromDouble(value));
    return add(module, name, number.get());
}

Result<void> module_body(PyObject *module)
{
    // A type made by an earlier, failed import is kept.
    auto type = number_type != nullptr ? Result<PyTypeObject *>(number_type)
                                       : create_number_type(method_table.data());
    if (!type) {
        return std::unexpected(caused_by(std::move(type).error(), PyExc_RuntimeError,
                                         fill(texts::class_init_failed, texts::class_name)));
    }
    if (auto added = add(module, texts::class_name, reinterpret_cast<PyObject *>(*type)); !added) {
        return added;
    }
    for (PyMethodDef *def = function_table.data(); def->ml_name != nullptr; ++def) {
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

Result<Owned> initialise()
{
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return fail_with_raised();
    }
    std::int64_t expected = -1;
    if (!recorded_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        return fail_with(PyExc_ImportError, texts::sub_interpreters_refused);
    }
    if (module_cell != nullptr) {
        return Owned::borrow(module_cell);
    }
    // Single-phase initialisation; 1013 is the C API version (the
    // PYTHON_API_VERSION of every Python 3), written out as the number.
    Owned module = Owned::steal(PyModule_Create2(&module_def, 1013));
    if (!module) {
        return fail_with_raised();
    }
    if (auto built = module_body(module.get()); !built) {
        return std::unexpected(std::move(built).error());
    }
    if (module_cell == nullptr) {
        module_cell = module.release();
    }
    return Owned::borrow(module_cell);
}

}  // namespace
}  // namespace tesmar

PyMODINIT_FUNC PyInit_tesmar_math() { return tesmar::guarded(tesmar::initialise); }
