# Rounding, sign and predicates against Python's own: the functions' saturating ints and bit parity,
# the methods' stored doubles and fmod parity.

import math
from decimal import Decimal
from fractions import Fraction

import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import FLOATS, Tesmarmath, examples, key, saturate


# C's floor or ceil: the double itself, a zero keeping x's sign.
def rounded(rounding, x):
    return x if not math.isfinite(x) else float(rounding(x)) or math.copysign(0.0, x)


ENDS = [2.0**63 - 1024, 2.0**63, math.nextafter(-(2.0**63), -math.inf)]  # of the int64 range
SOME = [-0.5, 2.0**52 + 0.5, 2.0**53, -4.0, -3.0]


@given(x=FLOATS)
@examples(*ENDS, *SOME)
def test_function_rounding_and_sign_are_saturating_ints(x):
    want = (saturate(x, math.floor), saturate(x, math.ceil), (x > 0) - (x < 0))
    assert (tm.floor(x), tm.ceil(x), tm.sign(x)) == want


@given(x=FLOATS)
@examples(*ENDS, *SOME)
def test_method_rounding_and_sign_store_doubles(x):
    assert key(Tesmarmath(x).floor().get_number()) == key(rounded(math.floor, x))
    assert key(Tesmarmath(x).ceil().get_number()) == key(rounded(math.ceil, x))
    sign = float((x > 0) - (x < 0))  # +0.0 for zeros and NaN
    assert key(Tesmarmath(x).sign().get_number()) == key(sign)


@given(x=FLOATS)
@examples(*ENDS, *SOME)
def test_predicates_match_pythons_comparisons(x):
    assert tm.is_positive(x) is (x > 0) and tm.is_negative(x) is (x < 0)
    assert tm.is_integer(x) is x.is_integer()


@given(x=FLOATS)
@examples(*ENDS, *SOME)
def test_method_parity_is_that_of_even_whole_numbers(x):
    even = math.isfinite(x) and x.is_integer() and int(x) % 2 == 0
    assert (Tesmarmath(x).is_even(), Tesmarmath(x).is_odd()) == (even, not even)


class Odd:
    """A number whose own floor and ceil are not its float's."""

    def __float__(self):
        return 2.5

    def __floor__(self):
        return 99

    def __ceil__(self):
        return -99


def test_floor_and_ceil_round_the_float_not_the_number():
    for n in (Odd(), 2**53 + 1, Fraction(2**53 + 1), Decimal(2**53 + 1)):
        assert (tm.floor(n), tm.ceil(n)) == (math.floor(float(n)), math.ceil(float(n)))


@given(n=st.integers(-(2**63), 2**63 - 1) | st.sampled_from([-(2**63), 2**63 - 1, -1, -4]))
def test_function_parity_is_the_lowest_bit(n):
    assert (tm.is_even(n), tm.is_odd(n)) == (n % 2 == 0, n % 2 == 1)
