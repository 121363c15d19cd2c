"""gcd of ints and of rounded floats against math.gcd, lcm against math.lcm
on whole numbers and on values its documented rounding fixes. The methods
agree with the functions (test_paths.py)."""

import math
from fractions import Fraction

import pytest
import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import FLOATS, Tesmarmath, examples, key, outcome, saturate

INT64 = st.integers(-(2**63), 2**63 - 1) | st.sampled_from([-(2**63), 2**63 - 1, -1, 0, 1])
scaled = st.builds(
    lambda k, xs: [k * x for x in xs], st.integers(1, 2**20), st.lists(st.integers(-(2**42), 2**42))
)
halves = st.integers(-(2**53), 2**53).map(lambda n: n / 2)


def integer_view(x):
    """Halves away from zero, on the exact value; then saturated."""
    return saturate(
        x, lambda v: math.floor(abs(Fraction(v)) + Fraction(1, 2)) * (1 if v > 0 else -1)
    )


@given(xs=st.lists(INT64, min_size=1) | scaled.filter(bool))
@examples([-(2**63)], [-(2**63), 6], [-(2**63), 7, -(2**63)], [0, 0], [7, 0, 21])
def test_gcd_with_int_is_math_gcd(xs):
    assert outcome(tm.gcd_with_int, xs) == (int, math.gcd(*xs))


@given(
    xs=st.lists(
        FLOATS | halves | st.sampled_from([0.49999999999999994, 4503599627370497.0]), min_size=1
    )
)
@examples([-math.inf, 6.0], [math.inf, 7.0], [math.nan, 6.0], [2.5, 7.4, -0.5])
def test_gcd_with_float_is_math_gcd_of_the_rounded_items(xs):
    assert outcome(tm.gcd_with_float, xs) == (int, math.gcd(*map(integer_view, xs)))


@given(xs=st.lists(st.integers(-60, 60), min_size=1, max_size=6))
def test_lcm_of_whole_numbers_is_math_lcm(xs):
    assert outcome(tm.lcm_with, [float(x) for x in xs]) == (float, key(float(math.lcm(*xs))))


@pytest.mark.parametrize(
    "xs, want",
    [
        ([2.5, 3.0], 2.5),
        ([0.4, 3.0], 0.4000000000000001),
        ([0.6, 0.4], 0.24),
        ([0.5, 0.5], 0.25),
        ([1.5, 2.0], 1.5),
        ([0.3, 0.2], 0.0),
        ([0.3, 0.2, math.nan], 0.0),
        ([7.0, 0.2, 0.3], 0.0),
        ([-3.0], 3.0),
        ([1e200, 1e200], math.inf),
        ([1e19, 3.0], 3e19),
        ([math.nan, 6.0], math.nan),
        ([6.0, math.nan], math.nan),
        ([-math.inf], math.inf),
        ([math.inf, 0.0], math.nan),
        ([], 0.0),
    ],
)
def test_lcm_with_rounds_only_its_gcd_step(xs, want):
    assert outcome(tm.lcm_with, xs) == (float, key(want))


def test_empty_lists_and_the_methods_results():
    for name in ("gcd_with_int", "gcd_with_float"):
        for call in (getattr(tm, name), getattr(Tesmarmath(5.0), name)):
            assert outcome(call, []) == (ValueError, (f"{name}() requires at least one argument",))
    t = Tesmarmath(5.0)
    assert t.lcm_with([]).get_number() == t.get_number() == 0.0
    assert t.gcd_with_float([math.inf]) == 2**63 - 1 and t.get_number() == 2.0**63
    assert t.gcd_with_int([9007199254740993]).get_number() == t.get_number() == 9007199254740992.0
