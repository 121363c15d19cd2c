#pragma once

#include <string>

namespace tesmar {

// Positional decimal text of x: shortest round-trip digits, exact ties
// between two shortest candidates resolved towards the greater one.
// Never uses an exponent; NaN -> "NaN", infinities -> "inf" / "-inf".
std::string text_form(double x);

}  // namespace tesmar
