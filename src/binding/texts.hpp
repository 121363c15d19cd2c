// The texts that callers see: the binding's messages, the class's name, the
// internal-failure report. Callers match on these, so they never change,
// not even where they look odd ("Vec", "ffi boundary", the module name of
// PanicException). The class's other texts stand in number_class.hpp, the
// module's in module.cpp, each operation's own messages at the top of its
// family's file.
//
// A "{}" stands for a value filled in by `fill`, in order; a "%" starts one
// that CPython formats.
#pragma once

#include <string>
#include <string_view>

namespace tesmar::texts {

// The class, which the messages about its methods name.
inline constexpr char class_name[] = "Tesmarmath";

// Argument binding ({} is the callable: "cos()" or "Tesmarmath.cos()").
inline constexpr char method_prefix[] = "{}.";
inline constexpr char too_many_positional[] = "{} takes {} positional arguments but {} {} given";
inline constexpr char too_many_positional_range[] =
    "{} takes from {} to {} positional arguments but {} {} given";
inline constexpr char was_given[] = "was";
inline constexpr char were_given[] = "were";
inline constexpr char missing_one[] = "{} missing 1 required positional argument: {}";
inline constexpr char missing_several[] = "{} missing {} required positional arguments: {}";
inline constexpr char missing_name[] = "'{}'";
inline constexpr char between_two_names[] = " and ";
inline constexpr char between_names[] = ", ";
inline constexpr char before_last_name[] = ", and ";
inline constexpr char multiple_values[] = "{} got multiple values for argument '{}'";
inline constexpr char unexpected_keyword[] = "{} got an unexpected keyword argument '{}'";
inline constexpr char keywords_must_be_strings[] = "keywords must be strings";

// Conversion.
inline constexpr char argument_prefix_format[] = "argument '%.*s': %U";
inline constexpr char str_is_not_a_list[] = "Can't extract `str` to `Vec`";
inline constexpr char not_a_sequence[] = "'{}' object cannot be converted to 'Sequence'";
inline constexpr char unnamed_type[] = "<failed to extract type name>";
inline constexpr char int_too_big[] = "int too big to convert";
inline constexpr char buffer_changed[] = "the buffer's memory changed while it was being read";
// Completes RecursionError's "maximum recursion depth exceeded".
inline constexpr char while_converting[] = " while converting an argument";

// Internal failures.
inline constexpr char panic_name[] = "vorn_runtime.PanicException";
inline constexpr char panic_doc[] =
    "The exception raised when tesmar_math's native code fails unexpectedly.\n\n"
    "Like SystemExit, this exception derives from BaseException, so that it\n"
    "will typically propagate all the way up the stack and end the interpreter.";
inline constexpr char generic_failure[] = "tesmar_math failed unexpectedly";
inline constexpr char api_call_failed[] = "Python API call failed";
inline constexpr char no_exception_set[] = "attempted to fetch exception but none was set";
inline constexpr char failure_report[] = "tesmar_math: internal failure in %s (%.*s:%u): %.*s\n";
inline constexpr char panic_passed_on[] =
    "--- A PanicException was raised by Python code called from tesmar_math; passing it on ---\n";
inline constexpr char uncaught_panic[] = "uncaught panic at ffi boundary\n";

}  // namespace tesmar::texts

namespace tesmar {

// The text with each "{}" replaced by the next value, in order.
template <class... Values>
[[nodiscard]] std::string fill(std::string_view text, const Values &...values)
{
    std::string out;
    auto put = [&](std::string_view value) {
        const std::size_t slot = text.find("{}");
        out.append(text.substr(0, slot)).append(value);
        text.remove_prefix(slot + 2);
    };
    (put(values), ...);
    return out.append(text);
}

}  // namespace tesmar
