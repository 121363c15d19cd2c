# gcd of ints and of rounded floats against math.gcd, lcm against math.lcm on whole numbers and on
# values its documented rounding fixes. The methods agree with the functions and store their
# result as a float (test_paths.py, test_fuzz.py).

import math
from decimal import ROUND_HALF_UP, Decimal

import pytest
import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import FLOATS, Tesmarmath, examples, key, outcome, saturate

INT64 = st.integers(-(2**63), 2**63 - 1) | st.sampled_from([-(2**63), 2**63 - 1, -1, 0, 1])
# Multiples of one number, so that the running gcd settles above 1.
UNSCALED = st.lists(st.integers(-(2**42), 2**42))
scaled = st.builds(lambda k, xs: [k * x for x in xs], st.integers(1, 2**20), UNSCALED)
# Halves, and the doubles next to them that a rounding by adding 0.5 would get wrong.
NEAR_HALVES = [0.49999999999999994, 4503599627370497.0]
ROUNDED = st.integers(-(2**53), 2**53).map(lambda n: n / 2) | st.sampled_from(NEAR_HALVES)


# Halves away from zero (decimal's ROUND_HALF_UP), on the exact value; then saturated.
def integer_view(x):
    return saturate(x, lambda v: int(Decimal(v).to_integral_value(ROUND_HALF_UP)))


@given(ints=st.lists(INT64, min_size=1) | scaled.filter(bool))
@examples([-(2**63)], [-(2**63), 6], [-(2**63), 7, -(2**63)], [0, 0], [7, 0, 21])
def test_gcd_with_int_is_maths_gcd(ints):
    assert outcome(tm.gcd_with_int, ints) == (int, math.gcd(*ints))


@given(reals=st.lists(FLOATS | ROUNDED, min_size=1))
@examples([-math.inf, 6.0], [math.inf, 7.0], [math.nan, 6.0], [2.5, 7.4, -0.5], [0.5])
def test_gcd_with_float_is_maths_gcd_of_the_rounded_items(reals):
    assert outcome(tm.gcd_with_float, reals) == (int, math.gcd(*map(integer_view, reals)))


@given(whole=st.lists(st.integers(-60, 60), min_size=1, max_size=6))
@examples([1], [0, 5], [-4], [4, 6], [7, -14, 0])
def test_lcm_with_is_maths_lcm_on_whole_numbers(whole):
    assert outcome(tm.lcm_with, [float(x) for x in whole]) == (float, key(float(math.lcm(*whole))))


LCM = [  # (items, lcm), a few to a line: only the gcd step rounds its operands
    (([2.5, 3.0], 2.5), ([0.4, 3.0], 0.4000000000000001), ([0.6, 0.4], 0.24)),
    (([0.5, 0.5], 0.25), ([1.5, 2.0], 1.5), ([0.3, 0.2], 0.0), ([0.3, 0.2, math.nan], 0.0)),
    (([7.0, 0.2, 0.3], 0.0), ([-3.0], 3.0), ([1e200, 1e200], math.inf), ([1e19, 3.0], 3e19)),
    (([math.nan, 6.0], math.nan), ([6.0, math.nan], math.nan), ([-math.inf], math.inf)),
    (([math.inf, 0.0], math.nan), ([], 0.0)),
]


@pytest.mark.parametrize("xs, want", [case for line in LCM for case in line])
def test_lcm_with_rounds_only_its_gcd_step(xs, want):
    assert outcome(tm.lcm_with, xs) == (float, key(want))


def test_empty_lists_have_no_gcd():
    for name in ("gcd_with_int", "gcd_with_float"):
        for call in (getattr(tm, name), getattr(Tesmarmath(5.0), name)):
            assert outcome(call, []) == (ValueError, (f"{name}() requires at least one argument",))
