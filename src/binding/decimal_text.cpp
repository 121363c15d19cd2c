#include "binding/decimal_text.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>

namespace tesmar {
namespace {

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

}  // namespace

Decimal shortest_decimal(double x)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
    return parse_scientific(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

Decimal rounded_decimal(double x, int precision)
{
    char buf[longest_scientific];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific,
                           precision);
    return parse_scientific(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

std::string python_float_text(double x)
{
    std::string out = std::signbit(x) ? "-" : "";
    if (x == 0.0) {
        return out + "0.0";
    }
    const Decimal d = shortest_decimal(x);
    const int n = static_cast<int>(d.digits.size());
    // repr's rule: positional while the exponent lies in [-4, 16).
    if (d.k - 1 < -4 || d.k - 1 >= 16) {
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
        return out.append(buf, r.ptr);
    }
    if (d.k <= 0) {
        return out.append("0.").append(static_cast<std::size_t>(-d.k), '0').append(d.digits);
    }
    if (d.k < n) {
        return out.append(d.digits, 0, static_cast<std::size_t>(d.k))
            .append(".")
            .append(d.digits, static_cast<std::size_t>(d.k));
    }
    return out.append(d.digits).append(static_cast<std::size_t>(d.k - n), '0').append(".0");
}

}  // namespace tesmar
