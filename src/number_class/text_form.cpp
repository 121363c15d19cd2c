#include "number_class/text_form.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace tesmar {
namespace {

// Significant digits (no leading or trailing zeros) and exponent k: the
// value 0.d1d2...dn * 10**k.
struct Decimal {
    std::string digits;
    int k = 0;
};

// Splits to_chars scientific output "d[.ddd]e[+-]XX" into digits and k.
Decimal parse_scientific(std::string_view s)
{
    Decimal d;
    std::size_t pos = 0;
    for (; pos < s.size() && s[pos] != 'e'; ++pos) {
        if (s[pos] != '.') {
            d.digits.push_back(s[pos]);
        }
    }
    std::size_t exp_pos = pos + 1;
    if (exp_pos < s.size() && s[exp_pos] == '+') {
        ++exp_pos;  // from_chars rejects '+'
    }
    int e = 0;
    std::from_chars(s.data() + exp_pos, s.data() + s.size(), e);
    d.k = e + 1;
    while (d.digits.size() > 1 && d.digits.back() == '0') {
        d.digits.pop_back();
    }
    return d;
}

// 767 is the most significant digits a double's exact expansion needs.
constexpr std::size_t longest_scientific = 800;

// The shortest digits that read back as x; x finite and not zero (its sign
// is ignored).
Decimal shortest_decimal(double x)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
    return parse_scientific(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

// x rounded to `precision` + 1 significant digits (ties to even).
Decimal rounded_decimal(double x, int precision)
{
    char buf[longest_scientific];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific,
                           precision);
    return parse_scientific(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

// The text form of the special values: callers match on these, so they
// never change.
constexpr const char *nan_text = "NaN";
constexpr const char *infinity_text = "inf";
constexpr const char *negative_infinity_text = "-inf";
constexpr const char *zero_text = "0";
constexpr const char *negative_zero_text = "-0";

bool round_trips(const Decimal &d, double x)
{
    std::string s = d.digits;
    s += 'e';
    s += std::to_string(d.k - static_cast<int>(d.digits.size()));
    double y = 0.0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), y);
    return r.ec == std::errc() && y == x;
}

// to_chars breaks an exact tie between two shortest candidates towards the
// even last digit; we want the greater one, so step up when x lies exactly
// half a unit above the chosen digits and the step-up still round-trips.
void prefer_greater_on_tie(Decimal &d, double x)
{
    const int n = static_cast<int>(d.digits.size());
    const std::string half = d.digits + '5';

    // Cheap filter: rounding to n+2 digits must show "D50" at the same scale.
    Decimal near = rounded_decimal(x, n + 1);
    if (near.k != d.k || near.digits != half) {
        return;
    }

    Decimal exact = rounded_decimal(x, 767);
    if (exact.k != d.k || exact.digits != half) {
        return;
    }

    Decimal up = d;
    std::size_t i = up.digits.size();
    while (i > 0 && up.digits[i - 1] == '9') {
        up.digits[--i] = '0';
    }
    if (i == 0) {
        up.digits.insert(up.digits.begin(), '1');
        ++up.k;
    }
    else {
        ++up.digits[i - 1];
    }
    while (up.digits.size() > 1 && up.digits.back() == '0') {
        up.digits.pop_back();
    }
    if (round_trips(up, x)) {
        d = std::move(up);
    }
}

}  // namespace

std::string text_form(double x)
{
    if (std::isnan(x)) {
        return nan_text;
    }
    const bool negative = std::signbit(x);
    if (std::isinf(x)) {
        return negative ? negative_infinity_text : infinity_text;
    }
    if (x == 0.0) {
        return negative ? negative_zero_text : zero_text;
    }

    const double a = std::fabs(x);
    Decimal d = shortest_decimal(a);
    prefer_greater_on_tie(d, a);

    const int n = static_cast<int>(d.digits.size());
    std::string out;
    if (negative) {
        out.push_back('-');
    }
    if (d.k <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.k), '0');
        out += d.digits;
    }
    else if (d.k < n) {
        out.append(d.digits, 0, static_cast<std::size_t>(d.k));
        out.push_back('.');
        out.append(d.digits, static_cast<std::size_t>(d.k), std::string::npos);
    }
    else {
        out += d.digits;
        out.append(static_cast<std::size_t>(d.k - n), '0');
    }
    return out;
}

}  // namespace tesmar
