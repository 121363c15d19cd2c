// The texts that callers see: the binding's messages, the class's and the
// module's names, the internal-failure report. Callers match on these, so
// they never change, not even where they look odd ("Vec", "ffi boundary",
// the module names of PanicException and of the class). Each operation's
// own messages stand at the top of its family's file.
//
// A "{}" stands for a value filled in by `fill`, in order.
#pragma once

#include <string>
#include <string_view>

namespace tesmar::texts {

// Argument binding ({} is the callable: "cos()" or "Tesmarmath.cos()").
inline constexpr std::string_view method_prefix = "Tesmarmath.";
inline constexpr std::string_view too_many_positional =
    "{} takes {} positional arguments but {} {} given";
inline constexpr std::string_view too_many_positional_range =
    "{} takes from {} to {} positional arguments but {} {} given";
inline constexpr std::string_view was_given = "was";
inline constexpr std::string_view were_given = "were";
inline constexpr std::string_view missing_one = "{} missing 1 required positional argument: {}";
inline constexpr std::string_view missing_several =
    "{} missing {} required positional arguments: {}";
inline constexpr std::string_view missing_name = "'{}'";
inline constexpr std::string_view between_two_names = " and ";
inline constexpr std::string_view between_names = ", ";
inline constexpr std::string_view before_last_name = ", and ";
inline constexpr std::string_view multiple_values = "{} got multiple values for argument '{}'";
inline constexpr std::string_view unexpected_keyword = "{} got an unexpected keyword argument '{}'";

// Conversion.
inline constexpr std::string_view argument_prefix = "argument '{}': ";
inline constexpr const char *argument_prefix_format = "argument '%.*s': %U";
inline constexpr std::string_view str_is_not_a_list = "Can't extract `str` to `Vec`";
inline constexpr std::string_view not_a_sequence = "'{}' object cannot be converted to 'Sequence'";
inline constexpr std::string_view not_an_instance =
    "'{}' object cannot be converted to 'Tesmarmath'";
inline constexpr std::string_view unnamed_type = "<failed to extract type name>";
inline constexpr std::string_view int_too_big = "int too big to convert";

// Receiver access.
inline constexpr std::string_view already_borrowed = "Already borrowed";
inline constexpr std::string_view already_mutably_borrowed = "Already mutably borrowed";

// Internal failures.
inline constexpr const char *panic_name = "vorn_runtime.PanicException";
inline constexpr const char *panic_doc =
    "The exception raised when tesmar_math's native code fails unexpectedly.\n\n"
    "Like SystemExit, this exception derives from BaseException, so that it\n"
    "will typically propagate all the way up the stack and end the interpreter.";
inline constexpr std::string_view generic_failure = "tesmar_math failed unexpectedly";
inline constexpr std::string_view api_call_failed = "Python API call failed";
inline constexpr std::string_view no_exception_set =
    "attempted to fetch exception but none was set";
inline constexpr const char *failure_report =
    "tesmar_math: internal failure in %s (%.*s:%u): %.*s\n";
inline constexpr const char *panic_passed_on =
    "--- A PanicException was raised by Python code called from tesmar_math; passing it on ---\n";
inline constexpr const char *uncaught_panic = "uncaught panic at ffi boundary\n";
inline constexpr std::string_view append_to_all_failed = "could not append __name__ to __all__";
inline constexpr std::string_view unbound_without_fault =
    "a call was bound without a fault to report";
inline constexpr std::string_view stopped_without_reason = "a computation stopped for no reason";

// The module and the class.
inline constexpr const char *module_name = "tesmar_math";
inline constexpr const char *module_doc = "";
inline constexpr const char *class_name = "builtins.Tesmarmath";
inline constexpr std::string_view repr_format = "Tesmarmath({})";
inline constexpr std::string_view class_init_failed =
    "An error occurred while initializing class Tesmarmath";
inline constexpr std::string_view sub_interpreters_refused =
    "tesmar_math does not yet support sub-interpreters: it can be imported only by the first "
    "interpreter that loaded it (see the project's issue tracker)";

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
