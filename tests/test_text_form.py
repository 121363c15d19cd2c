"""Text form of Tesmarmath: shortest round-trip digits, positional layout,
exact ties between two shortest candidates go to the greater one."""
import math
import sys
from fractions import Fraction

import pytest
from hypothesis import example, given, settings, strategies as st

import tesmar_math


def expected_text(x: float) -> str:
    """Independent model: repr's digits, then mend exact ties upwards."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    if x == 0:
        return "-0" if math.copysign(1.0, x) < 0 else "0"
    sign, a = ("-" if x < 0 else ""), abs(x)
    mant, _, exp = repr(a).partition("e")
    whole, _, frac = mant.partition(".")
    digits = int(whole + frac)
    scale = int(exp or 0) - len(frac)  # |x| ~ digits * 10**scale
    unit = Fraction(10) ** scale
    if (digits + Fraction(1, 2)) * unit == Fraction(a) and float((digits + 1) * unit) == a:
        digits += 1
    s = str(digits).rstrip("0")
    k = len(str(digits)) + scale  # value is 0.s * 10**k
    if k <= 0:
        body = "0." + "0" * -k + s
    elif k < len(s):
        body = s[:k] + "." + s[k:]
    else:
        body = s + "0" * (k - len(s))
    return sign + body


def text(x: float) -> str:
    return str(tesmar_math.Tesmarmath(x))


@pytest.mark.parametrize(
    "x, want",
    [
        (math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"),
        (0.0, "0"), (-0.0, "-0"),
        (3.0, "3"), (100.0, "100"), (2.5, "2.5"), (-1.5, "-1.5"), (0.1, "0.1"),
        (0.1 + 0.2, "0.30000000000000004"), (1 / 3, "0.3333333333333333"),
        (123.456, "123.456"), (1e-5, "0.00001"), (1e-7, "0.0000001"),
        (1e16, "10000000000000000"), (2.0**53, "9007199254740992"),
        (2.0**50 + 0.25, "1125899906842624.3"), (-(2.0**50 + 0.25), "-1125899906842624.3"),
        (2.0**50 + 0.75, "1125899906842624.8"),
        (1e21, "1000000000000000000000"), (1e23, "1" + "0" * 23),
        (sys.float_info.max, "17976931348623157" + "0" * 292),
        (5e-324, "0." + "0" * 323 + "5"), (-5e-324, "-0." + "0" * 323 + "5"),
    ],
)
def test_examples(x, want):
    assert text(x) == want
    assert repr(tesmar_math.Tesmarmath(x)) == f"Tesmarmath({want})"


def test_oracle_agrees_with_examples():
    # Guards the model itself against drifting from the hand-checked table.
    assert expected_text(2.0**50 + 0.25) == "1125899906842624.3"
    assert expected_text(sys.float_info.max) == "17976931348623157" + "0" * 292
    assert expected_text(5e-324) == "0." + "0" * 323 + "5"


subnormals = st.integers(1, 2**52 - 1).map(lambda m: m * 5e-324)
quarter_ties = st.integers(2**50, 2**51 - 1).flatmap(
    lambda n: st.sampled_from([n + 0.25, n + 0.75, -(n + 0.25)])
)
big_integers = st.integers(2**53, 2**80).map(float)


@settings(max_examples=2000)
@given(st.floats() | subnormals | quarter_ties | big_integers)
@example(2.0**50 + 0.25)
def test_matches_model(x):
    got = text(x)
    assert got == expected_text(x)
    if math.isfinite(x):
        assert "e" not in got and not got.endswith(".0")
        assert float(got) == x


@given(st.floats(min_value=0.0, allow_nan=False))
def test_negation_only_adds_minus(x):
    assert text(-x) == "-" + text(x)
