# Powers and roots against Python's float arithmetic, the cube root against exact rational
# arithmetic. The methods give the same values (test_paths.py); power_of_2 is a method only.

import math
import random
from fractions import Fraction

import pytest
import tesmar_math as tm
from hypothesis import given, settings
from hypothesis import strategies as st
from registry import FLOATS, SANITIZER_RUN, Tesmarmath, c_pow, double, examples, key, outcome

NEGATIVE = (ValueError, ("Cannot calculate square root of a negative number",))


ONE_NUMBER = {  # the function, and its outcome by Python's arithmetic
    "square": lambda x: (float, key(x * x)),
    "cube": lambda x: (float, key((x * x) * x)),
    "square_root": lambda x: NEGATIVE if x < 0 else (float, key(math.sqrt(x))),
}


@pytest.mark.parametrize("name", ONE_NUMBER)
@given(x=FLOATS)
@examples(-8.0, -0.0, 0.0, -10.0, -1e-300, 1e200)
def test_squares_cubes_and_square_roots_follow_python_arithmetic(name, x):
    assert outcome(getattr(tm, name), x) == ONE_NUMBER[name](x)


@given(x=FLOATS, y=FLOATS)
@examples((-8.0, 1 / 3), (-0.0, -1.0), (0.0, -2.0), (-10.0, 401.0), (-1e-300, 0.5), (1e200, 2.0))
def test_power_is_c_pow(x, y):
    assert outcome(tm.power, x, y) == (float, key(c_pow(x, y)))


# IEEE-754 leaves the last bit of exp2 and pow open; every build calls the C library's, which is
# then the oracle, bit for bit. (The compiler runtime linked into the release build has an exp2 of
# its own, a last bit off for about one argument in a thousand.)
def test_power_of_2_is_the_c_librarys_exp2():
    for x in (*range(-1074, 1030), math.nan, -math.inf, -0.0):
        assert key(Tesmarmath(x).power_of_2().get_number()) == key(c_pow(2.0, x)), x
    rng = random.Random(2)
    for _ in range(10_000):
        x = rng.uniform(-1075, 1024)
        assert key(Tesmarmath(x).power_of_2().get_number()) == key(math.exp2(x)), x


def test_power_is_the_c_librarys_pow():
    rng = random.Random(3)
    for _ in range(10_000):
        base, exponent = rng.uniform(0, 10), rng.uniform(-300, 300)
        assert key(tm.power(base, exponent)) == key(c_pow(base, exponent)), (base, exponent)


# y is the double nearest the real cube root of x: x lies strictly between the cubes of the
# midpoints around y (roots of doubles are normal).
def is_nearest_cube_root(x, y):
    a, r = Fraction(abs(x)), abs(y)
    below = (Fraction(math.nextafter(r, 0.0)) + Fraction(r)) / 2
    above = (Fraction(r) + Fraction(math.nextafter(r, math.inf))) / 2
    return math.copysign(1.0, x) == math.copysign(1.0, y) and below**3 < a < above**3


# Doubles next to the cube of a rounding boundary: the hardest inputs.
@st.composite
def near_midpoint_cubes(draw):
    y = draw(st.floats(2.0**-358, 2.0**341, exclude_min=True))
    x = float(((Fraction(y) + Fraction(math.nextafter(y, math.inf))) / 2) ** 3)
    return draw(st.sampled_from([x, math.nextafter(x, 0.0), math.nextafter(x, math.inf)]))


every_finite = st.integers(1, 0x7FEFFFFFFFFFFFFF).map(double)


@settings(max_examples=(1 if SANITIZER_RUN else 10) * settings().max_examples)
@given(x=every_finite | near_midpoint_cubes() | FLOATS, negate=st.booleans())
@examples((5e-324, True), (1.7976931348623157e308, False), (27.0, True))
def test_cube_root_is_correctly_rounded(x, negate):
    x = -x if negate else x
    y = tm.cube_root(x)
    assert key(y) == key(x) if x == 0 or not math.isfinite(x) else is_nearest_cube_root(x, y)


@pytest.mark.no_sanitizer  # values, not memory: the property above takes these paths in that build
def test_every_perfect_cube_has_its_exact_root():
    root = tm.cube_root
    for n in range(1, 208064):  # every n whose cube is below 2**53
        assert root(float(n**3)) == n and root(float(-(n**3))) == -n
    # Odd n times 2**j, from 2**-358 to 2**34: the cube is a double.
    for n in range(1, 208064, 2):
        for j in (n % 698 - 358, n % 300 - 150, n % 17 + 1):
            if 3 * j >= -1074 and (n**3).bit_length() + 3 * j <= 1024:
                assert root(math.ldexp(float(n**3), 3 * j)) == math.ldexp(n, j)
