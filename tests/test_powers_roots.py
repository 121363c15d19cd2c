"""Powers and roots: square, cube, power, power_of_2, square_root, cube_root."""
import math
import struct
import sys
from fractions import Fraction

import pytest
from hypothesis import example, given, settings, strategies as st

import tesmar_math
from tesmar_math import Tesmarmath

NAN, INF = math.nan, math.inf
NEGATIVE = "Cannot calculate square root of a negative number"


def same(a: float, b: float) -> bool:
    """Bit-for-bit equality, any NaN matching any NaN."""
    return math.isnan(a) and math.isnan(b) or struct.pack("<d", a) == struct.pack("<d", b)


def method(name, x, *args, **kwargs):
    """Runs the method form; checks the receiver and the new result instance agree."""
    t = Tesmarmath(x)
    u = getattr(t, name)(*args, **kwargs)
    assert type(u) is Tesmarmath and u is not t
    assert same(u.get_number(), t.get_number())
    return u.get_number()


def both(name, *args):
    got = getattr(tesmar_math, name)(*args)
    assert type(got) is float
    via_method = method(name, *args)
    assert same(got, via_method)
    return got


def is_nearest_cbrt(x: float, y: float) -> bool:
    """Exact test that y is the double nearest the real cube root of x: x lies
    strictly between the cubes of the midpoints around y (roots are normal)."""
    a, r = Fraction(abs(x)), abs(y)
    lo = (Fraction(math.nextafter(r, 0.0)) + Fraction(r)) / 2
    hi = (Fraction(r) + Fraction(math.nextafter(r, INF))) / 2
    return math.copysign(1.0, x) == math.copysign(1.0, y) and lo**3 < a < hi**3


@pytest.mark.parametrize("name, args, want", [
    ("square", (3,), 9.0), ("square", (-1.5,), 2.25), ("square", (1e200,), INF),
    ("square", (-1e200,), INF), ("square", (-0.0,), 0.0), ("square", (NAN,), NAN),
    ("cube", (-2,), -8.0), ("cube", (1e103,), INF), ("cube", (-1e103,), -INF),
    ("cube", (-0.0,), -0.0), ("cube", (1e-200,), 0.0), ("cube", (-1e-200,), -0.0),
    ("power", (2, 10), 1024.0), ("power", (-8, 1 / 3), NAN), ("power", (0.0, -1.0), INF),
    ("power", (-0.0, -1.0), -INF), ("power", (-0.0, 3.0), -0.0), ("power", (10, 400), INF),
    ("power", (-10, 401), -INF), ("power", (NAN, 0.0), 1.0), ("power", (1.0, NAN), 1.0),
    ("power", (2.0, NAN), NAN), ("power", (-INF, 3.0), -INF), ("power", (0.5, -INF), INF),
    ("square_root", (4,), 2.0), ("square_root", (-0.0,), -0.0), ("square_root", (NAN,), NAN),
    ("square_root", (INF,), INF), ("square_root", (5e-324,), 2.2227587494850775e-162),
    ("cube_root", (-27,), -3.0), ("cube_root", (27.0,), 3.0), ("cube_root", (NAN,), NAN),
    ("cube_root", (-0.0,), -0.0), ("cube_root", (0.0,), 0.0), ("cube_root", (INF,), INF),
    ("cube_root", (-INF,), -INF), ("cube_root", (0.001,), 0.1), ("cube_root", (-1e300,), -1e100),
    ("cube_root", (2.0**-1074,), 2.0**-358), ("cube_root", (2.0**1023 * 8,), INF),
])
def test_values(name, args, want):
    assert same(both(name, *args), want)


def test_power_of_2_is_a_method_only():
    assert not hasattr(tesmar_math, "power_of_2") and "power_of_2" not in tesmar_math.__all__
    for x, want in [(3, 8.0), (-1, 0.5), (1024, INF), (-1075, 0.0), (NAN, NAN), (-INF, 0.0)]:
        assert same(method("power_of_2", x), want)
    assert all(method("power_of_2", n) == 2.0**n for n in range(-1074, 1024))


@pytest.mark.parametrize("x", [-1e-300, -5e-324, -4.0, -INF])
def test_square_root_refuses_negatives(x, no_leak):
    with pytest.raises(ValueError) as err:
        tesmar_math.square_root(x)
    assert err.value.args == (NEGATIVE,)
    t = Tesmarmath(x)
    with pytest.raises(ValueError, match=f"^{NEGATIVE}$"):
        t.square_root()
    assert same(t.get_number(), x)
    no_leak(lambda: t.square_root())


class Float:
    def __init__(self, run):
        self.run = run

    def __float__(self):
        return self.run()


def test_power_binding_and_conversion_failures(no_leak):
    t = Tesmarmath(2)
    inner = []

    def reenter():
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            t.get_number()
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            t.square()
        inner.append(1)
        raise KeyError("stop")

    cases = [
        (lambda: t.power(), TypeError, "Tesmarmath.power() missing 1 required positional argument: 'exponent'"),
        (lambda: t.power(1, 2), TypeError, "Tesmarmath.power() takes 1 positional arguments but 2 were given"),
        (lambda: t.power(3, exponent=3), TypeError, "Tesmarmath.power() got multiple values for argument 'exponent'"),
        (lambda: t.power("3"), TypeError, "argument 'exponent': must be real number, not str"),
        (lambda: t.power(Float(reenter)), KeyError, "'stop'"),
        (lambda: tesmar_math.power(), TypeError, "power() missing 2 required positional arguments: 'number' and 'exponent'"),
        (lambda: tesmar_math.power(exponent=2.0), TypeError, "power() missing 1 required positional argument: 'number'"),
        (lambda: tesmar_math.power("a", Float(reenter)), TypeError, "argument 'number': must be real number, not str"),
        (lambda: tesmar_math.power(2.0, None), TypeError, "argument 'exponent': must be real number, not NoneType"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind) as err:
            call()
        assert type(err.value) is kind and str(err.value) == message
        assert same(t.get_number(), 2.0)
        no_leak(call, rounds=1000)
    assert inner and t.square().get_number() == 4.0  # the receiver is free again


def test_keywords_and_no_leaks(no_leak):
    assert tesmar_math.power(number=2.0, exponent=3.0) == 8.0
    assert method("power", 2, exponent=3) == 8.0
    for call in [lambda: tesmar_math.power(2.0, 0.5), lambda: Tesmarmath(2.0).power(exponent=3),
                 lambda: tesmar_math.cube_root(-27.0), lambda: Tesmarmath(5.0).cube_root(),
                 lambda: Tesmarmath(3.0).power_of_2(), lambda: tesmar_math.square_root(2.0)]:
        no_leak(call)


@given(st.floats(), st.floats())
@example(-8.0, 1 / 3)
@example(0.0, -3.0)
@example(-1e300, 3.0)
def test_against_python_float_arithmetic(x, y):
    assert same(both("square", x), x * x)
    assert same(both("cube", x), (x * x) * x)
    if x < 0:
        with pytest.raises(ValueError, match=f"^{NEGATIVE}$"):
            tesmar_math.square_root(x)
    else:
        assert same(both("square_root", x), math.sqrt(x))
    got = both("power", x, y)
    try:
        assert same(got, math.pow(x, y))
    except ValueError:  # math.pow reports what the C library returns quietly
        assert math.isnan(got) or (x == 0 and math.isinf(got))
    except OverflowError:
        assert math.isinf(got)


finite_bits = st.integers(1, 0x7FEFFFFFFFFFFFFF).map(lambda b: struct.unpack("<d", struct.pack("<q", b))[0])
subnormals = st.integers(1, 2**52 - 1).map(lambda m: m * 5e-324)
roots = st.floats(2.0**-358, 2.0**341, exclude_min=True)


@st.composite
def near_midpoint_cubes(draw):
    """Doubles next to the cube of a rounding boundary: the hardest inputs."""
    y = draw(roots)
    mid = (Fraction(y) + Fraction(math.nextafter(y, INF))) / 2
    x = float(mid**3)
    return draw(st.sampled_from([x, math.nextafter(x, 0.0), math.nextafter(x, INF)]))


@settings(max_examples=3000)
@given(finite_bits | subnormals | near_midpoint_cubes() | st.floats(allow_nan=False, allow_infinity=False),
       st.booleans())
@example(27.0, True)
@example(5e-324, False)
@example(sys.float_info.max, True)
def test_cube_root_is_correctly_rounded(x, negate):
    x = -x if negate else x
    y = both("cube_root", x)
    assert (x == 0 and same(y, x)) or is_nearest_cbrt(x, y)
    assert same(tesmar_math.cube_root(-x), -y)


def test_cube_root_of_every_perfect_cube():
    root = tesmar_math.cube_root
    checked = 0
    for n in range(1, 208064):  # every n with n**3 below 2**53
        assert root(float(n**3)) == n and root(float(-n**3)) == -n
        checked += 2
    # Odd n times 2**j, up to 2**34 and down to 2**-358: the cube, odd and
    # of at most 53 bits, is a double when its lowest and highest bits fit.
    for n in range(1, 208064, 2):
        for j in (n % 698 - 358, n % 300 - 150, n % 17 + 1):
            if 3 * j < -1074 or (n**3).bit_length() + 3 * j > 1024:
                continue
            x = math.ldexp(float(n**3), 3 * j)
            assert root(x) == math.ldexp(n, j) and root(-x) == -math.ldexp(n, j)
            checked += 2
    assert checked > 700_000
