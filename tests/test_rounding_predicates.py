"""Rounding, sign and predicates against Python's own: the functions'
saturating ints and bit parity, the methods' stored doubles and fmod parity."""

import math
from decimal import Decimal
from fractions import Fraction

import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import FLOATS, Tesmarmath, examples, key, saturate

BELOW_2_63 = 9223372036854774784.0  # the largest double below 2**63


def rounded(rounding, x):
    """C's floor or ceil: the double itself, a zero keeping x's sign."""
    return x if not math.isfinite(x) else float(rounding(x)) or math.copysign(0.0, x)


def stored_after(x, name):
    t = Tesmarmath(x)
    u = getattr(t, name)()
    assert key(u.get_number()) == key(t.get_number())
    return key(t.get_number())


@given(x=FLOATS)
@examples(
    BELOW_2_63,
    math.nextafter(BELOW_2_63, math.inf),
    math.nextafter(-(2.0**63), -math.inf),
    -0.5,
    2.0**52 + 0.5,
)
def test_rounding_and_sign_match_python(x):
    assert (tm.floor(x), tm.ceil(x)) == (saturate(x, math.floor), saturate(x, math.ceil))
    assert tm.sign(x) == (x > 0) - (x < 0) and {
        type(tm.floor(x)),
        type(tm.ceil(x)),
        type(tm.sign(x)),
    } == {int}
    assert stored_after(x, "floor") == key(rounded(math.floor, x))
    assert stored_after(x, "ceil") == key(rounded(math.ceil, x))
    assert stored_after(x, "sign") == key(float((x > 0) - (x < 0)))  # +0.0 for both zeros and NaN


def test_floor_and_ceil_round_the_float_not_the_number():
    odd = type(
        "Odd",
        (),
        {"__float__": lambda _: 2.5, "__floor__": lambda _: 99, "__ceil__": lambda _: -99},
    )()
    for number in (odd, 2**53 + 1, Fraction(2**53 + 1), Decimal(2**53 + 1)):
        assert (tm.floor(number), tm.ceil(number)) == (
            math.floor(float(number)),
            math.ceil(float(number)),
        )


@given(x=FLOATS)
@examples(2.0**53, -4.0, -3.0)
def test_predicates_match_python(x):
    assert tm.is_positive(x) is (x > 0) and tm.is_negative(x) is (x < 0)
    assert tm.is_integer(x) is x.is_integer()
    t, even = Tesmarmath(x), math.isfinite(x) and x.is_integer() and int(x) % 2 == 0
    assert (t.is_even(), t.is_odd()) == (even, not even) and key(t.get_number()) == key(x)


@given(n=st.integers(-(2**63), 2**63 - 1) | st.sampled_from([-(2**63), 2**63 - 1, -1, -4]))
def test_function_parity_is_the_lowest_bit(n):
    assert (tm.is_even(n), tm.is_odd(n)) == (n % 2 == 0, n % 2 == 1)
