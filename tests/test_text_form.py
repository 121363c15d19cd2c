# The text form of str() and repr(): shortest round-trip digits laid out positionally, an exact
# tie between two shortest candidates going to the greater one; against repr's digits laid out
# by decimal.

import math
import sys
from decimal import Decimal, localcontext

from hypothesis import given, settings
from hypothesis import strategies as st
from registry import FLOATS, SANITIZER_RUN, Tesmarmath, double, examples


def expected(x):
    if not math.isfinite(x):
        return {"nan": "NaN", "inf": "inf", "-inf": "-inf"}[str(x)]
    digits = Decimal(repr(abs(x)))  # the shortest that round-trip; a tie goes to the even digit
    unit = Decimal((0, (1,), digits.normalize().as_tuple().exponent))
    with localcontext(prec=800):
        if Decimal(abs(x)) - digits == unit / 2 and float(digits + unit) == abs(x):
            digits += unit
    return "-" * (math.copysign(1, x) < 0) + format(digits.normalize(), "f")


DOCUMENTED = [  # (x, its text), a few to a line
    ((3.0, "3"), (100.0, "100"), (-1.5, "-1.5"), (0.1 + 0.2, "0.30000000000000004")),
    ((1e-7, "0.0000001"), (1e21, "1000000000000000000000"), (-0.0, "-0"), (math.nan, "NaN")),
    ((2.0**50 + 0.25, "1125899906842624.3"), (-math.inf, "-inf"), (5e-324, "0." + "0" * 323 + "5")),
    ((sys.float_info.max, "17976931348623157" + "0" * 292),),
]


def test_documented_examples():
    for x, text in (case for line in DOCUMENTED for case in line):
        assert expected(x) == text and str(Tesmarmath(x)) == text, text
        assert repr(Tesmarmath(x)) == f"Tesmarmath({text})"


every_double = st.integers(0, 2**64 - 1).map(double)
quarter_ties = st.integers(2**50, 2**51 - 1).flatmap(
    lambda n: st.sampled_from([n + 0.25, n + 0.75, -n - 0.25])
)


@settings(max_examples=(1 if SANITIZER_RUN else 5) * settings().max_examples)
@given(x=FLOATS | every_double | quarter_ties | st.integers(2**53, 2**80).map(float))
@examples(2.0**50 + 0.75, 23957.515365261122)  # a near tie: digits of one, value not
def test_text_form_is_the_shortest_digits_laid_out(x):
    t = Tesmarmath(x)
    assert str(t) == expected(x) and repr(t) == f"Tesmarmath({expected(x)})"
