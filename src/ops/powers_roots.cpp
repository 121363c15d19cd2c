// Powers and roots of one double.
#include "binding/frame.hpp"
#include "number_class/method.hpp"
#include "ops/ops.hpp"

#include <cmath>

namespace tesmar::ops {
namespace {

double square(double x) noexcept { return x * x; }

double cube(double x) noexcept { return (x * x) * x; }

double power(double base, double exponent) noexcept { return std::pow(base, exponent); }

double power_of_2(double x) noexcept { return std::exp2(x); }

Outcome<double> square_root(double x) noexcept
{
    if (0.0 > x) {
        return value_error("Cannot calculate square root of a negative number");
    }
    return std::sqrt(x);
}

double cube_root(double x) noexcept { return std::cbrt(x); }

constexpr Params square_params{"square(number)\n--\n\n"};
constexpr Params cube_params{"cube(number)\n--\n\n"};
constexpr Params power_params{"power(number, exponent)\n--\n\n"};
constexpr Params square_root_params{"square_root(number)\n--\n\n"};
constexpr Params cube_root_params{"cube_root(number)\n--\n\n"};
constexpr Params square_method_params{"square($self)\n--\n\n", Owner::number_class};
constexpr Params cube_method_params{"cube($self)\n--\n\n", Owner::number_class};
constexpr Params power_method_params{"power($self, exponent)\n--\n\n", Owner::number_class};
constexpr Params power_of_2_method_params{"power_of_2($self)\n--\n\n", Owner::number_class};
constexpr Params square_root_method_params{"square_root($self)\n--\n\n", Owner::number_class};
constexpr Params cube_root_method_params{"cube_root($self)\n--\n\n", Owner::number_class};

constexpr auto stores = Writes::result_instance;

}  // namespace

PyMethodDef square_function = function_def<&square, square_params>();
PyMethodDef cube_function = function_def<&cube, cube_params>();
PyMethodDef power_function = function_def<&power, power_params>();
PyMethodDef square_root_function = function_def<&square_root, square_root_params>();
PyMethodDef cube_root_function = function_def<&cube_root, cube_root_params>();

PyMethodDef square_method = method_def<&square, square_method_params, stores>();
PyMethodDef cube_method = method_def<&cube, cube_method_params, stores>();
PyMethodDef power_method = method_def<&power, power_method_params, stores>();
PyMethodDef power_of_2_method = method_def<&power_of_2, power_of_2_method_params, stores>();
PyMethodDef square_root_method = method_def<&square_root, square_root_method_params, stores>();
PyMethodDef cube_root_method = method_def<&cube_root, cube_root_method_params, stores>();

}  // namespace tesmar::ops
