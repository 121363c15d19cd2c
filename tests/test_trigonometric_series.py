# cos, sin and tan against math's within the truncation bound of each number of terms, and exact
# values that the documented order of rounding fixes, on both surfaces (they agree from one term up:
# test_paths.py); the reduction against an exact angle.

import math
from fractions import Fraction

import pytest
import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import Tesmarmath, examples, key, outcome

MAX, HP, X16, NAN, INF = 2**64 - 1, math.pi / 2, 2.8571428571428572e16, math.nan, math.inf
PI = Fraction("3.14159265358979323846264338327950288419716939937510")  # to 50 places
FUNCTION, METHOD = "Tangent is undefined: cosine is zero", "Tangent undefined (cos close to 0)"


ANGLES = st.floats(-1e4, 1e4)
TERMS = st.integers(1, 30) | st.sampled_from([20, 2**32, MAX])
SERIES = {"cos": (math.cos, 0), "sin": (math.sin, 1)}  # math's function, the first term's power


def slack(x):  # rounding, and the reduction's
    return 1e-13 + 4e-16 * abs(x)


@pytest.mark.parametrize("name", SERIES)
@given(x=ANGLES, n=TERMS)
@examples((700.0, MAX), (3.02, 20))
def test_series_stay_within_their_truncation_bound(name, x, n):
    exact, first_power = SERIES[name]
    power = 2 * n + first_power  # of the first term left out
    r = abs(math.remainder(x, 2 * math.pi))
    tail = r**power / math.factorial(power) if power < 200 else 0.0
    assert abs(getattr(tm, name)(x, n) - exact(x)) <= tail + slack(x)


@given(x=ANGLES, n=st.integers(20, 30) | st.sampled_from([2**32, MAX]))
@examples((700.0, MAX), (3.02, 20))
def test_tan_with_twenty_terms_or_more_is_within_its_bound(x, n):
    if abs(math.cos(x)) > 1e-6:
        bound = 2 * slack(x) * (1 + abs(math.tan(x))) / abs(math.cos(x))
        assert abs(tm.tan(x, n) - math.tan(x)) <= bound


U = "undefined"  # a tangent whose cosine sum is too near zero: ZeroDivisionError
# (name, x, {terms: the value on both surfaces, or the function's and the method's}), a few to a
# line; a value alone is for the default number of terms, 20.
EXACT = [
    # The first terms, one by one; no terms at all is the empty sum, or the first term on a method.
    [("cos", 1.0, {0: (0.0, 1.0), 1: 1.0, 2: 0.5, 3: 0.5416666666666666})],
    [("sin", 1.0, {0: (0.0, 1.0), 1: 1.0, 2: 0.8333333333333334, 3: 0.8416666666666667})],
    [("sin", 10.0, {1: -2.5663706143591725}), ("tan", 10.0, {0: (U, -2.5663706143591725)})],
    [("tan", 10.0, {1: -2.5663706143591725}), ("tan", math.sqrt(2), {2: U})],  # 1 - r*r/2 < 0
    [("cos", 0.0, 1.0), ("cos", 1.0, 0.5403023058681397), ("tan", -0.0, 0.0)],
    [("sin", math.pi, -2.48216939359126e-16), ("cos", 2.0, -0.41614683654714246)],
    [("cos", math.pi, -1.0), ("sin", 3.02, 0.12129325503062954)],  # the 29th power still counts
    [("tan", 1.0, 1.5574077246549025), ("sin", -0.0, {1: -0.0, None: 0.0})],
    # Near a pole of tan: a cosine sum below 1e-12 in magnitude fails.
    [("tan", HP, U), ("tan", HP + 1e-13, U), ("tan", HP - 5e-13, U)],
    [("tan", HP + 2e-12, -500033272650.1059), ("tan", HP - 2e-12, 499998951496.68304)],
    # Large arguments: the reduction, and series that run out of terms or overflow.
    [("cos", 1.5e16, {20: 0.9601702866503681}), ("cos", 1e17, 1.0), ("sin", 1e17, 0.0)],
    [("cos", X16, {None: -0.14550003381020185, 30: -0.14550003380863127})],  # reduced to -8.0
    [("cos", X16, {MAX: -0.14550003380863127}), ("cos", 1e300, {MAX: 1.0})],
    [("sin", 3e19, {MAX: NAN}), ("cos", 7e19, {MAX: NAN}), ("cos", NAN, {MAX: NAN})],
    # Not finite.
    [("cos", INF, NAN), ("cos", -INF, {1: 1.0}), ("sin", INF, {1: NAN}), ("tan", NAN, NAN)],
    [("tan", NAN, {0: (U, NAN)})],
]


def expect(value, message):
    return (ZeroDivisionError, (message,)) if value == U else (float, key(value))


@pytest.mark.parametrize("name, x, values", [row for line in EXACT for row in line])
def test_exact_values(name, x, values):
    for n, value in (values if isinstance(values, dict) else {None: values}).items():
        function, method = value if isinstance(value, tuple) else (value, value)
        terms = () if n is None else (n,)
        assert outcome(getattr(tm, name), x, *terms) == expect(function, FUNCTION), n
        assert outcome(getattr(Tesmarmath(x), name), *terms) == expect(method, METHOD), n


@given(x=st.floats(-1e15, 1e15))
@examples(1e15, -1e15, 1e14, math.pi, -math.pi, 3 * math.pi)
def test_reduction_keeps_the_angle(x):
    r = tm.sin(x, 1)  # one term of sin is the reduced argument itself
    turn = (Fraction(r) - Fraction(x)) % (2 * PI)
    assert min(turn, 2 * PI - turn) <= Fraction(15, 10**17) * abs(Fraction(x)) + Fraction(1, 10**15)
    assert abs(r) <= math.pi + 0.25  # about [-pi, pi): the turns are counted in floating point


@pytest.mark.parametrize("name", ["cos", "sin", "tan"])
@given(x=st.floats(-1e14, 1e14))
@examples(1e14, -1e14, math.pi, -math.pi, 3 * math.pi)
def test_twenty_terms_finish_the_series(name, x):
    assert outcome(getattr(tm, name), x) == outcome(getattr(tm, name), x, MAX)
