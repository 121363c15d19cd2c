"""Rounding, sign and predicates: the module's saturating int results and
bit-parity tests, the methods' stored doubles and fmod parity."""
import math
import struct

import pytest
from hypothesis import example, given, strategies as st

import tesmar_math as tm
from tesmar_math import Tesmarmath

INF, NAN = math.inf, math.nan
I64_MIN, I64_MAX = -(2**63), 2**63 - 1
BELOW_2_63 = 9223372036854774784.0
AT_2_63 = math.nextafter(BELOW_2_63, INF)
floats = st.floats(allow_nan=True, allow_infinity=True)


def examples(*values):
    def apply(test):
        for value in reversed(values):
            test = example(value)(test)
        return test
    return apply


def bits(x: float) -> bytes:
    return struct.pack("<d", x)


def same(a: float, b: float) -> bool:
    return math.isnan(a) and math.isnan(b) or bits(a) == bits(b)


def saturated(rounding, x: float) -> int:
    """Python's exact rounding, then clamped into the 64-bit range."""
    if math.isnan(x):
        return 0
    if math.isinf(x):
        return I64_MAX if x > 0 else I64_MIN
    return max(I64_MIN, min(I64_MAX, rounding(x)))


def rounded_double(rounding, x: float) -> float:
    """The C library's floor/ceil as a double: a zero result keeps x's sign."""
    if not math.isfinite(x):
        return x
    r = float(rounding(x))
    return math.copysign(0.0, x) if r == 0 else r


def sign_of(x: float) -> int:
    return (x > 0) - (x < 0)


def is_even_double(x: float) -> bool:
    return math.isfinite(x) and x.is_integer() and int(x) % 2 == 0


# ---------------------------------------------------------------- module surface

@pytest.mark.parametrize(
    "x, floor, ceil",
    [
        (2.7, 2, 3), (-2.5, -3, -2), (2.1, 2, 3), (-0.0, 0, 0), (0.5, 0, 1),
        (BELOW_2_63, 9223372036854774784, 9223372036854774784),
        (AT_2_63, I64_MAX, I64_MAX), (-AT_2_63, I64_MIN, I64_MIN),
        (math.nextafter(-AT_2_63, -INF), I64_MIN, I64_MIN),
        (-BELOW_2_63, -9223372036854774784, -9223372036854774784),
        (1e300, I64_MAX, I64_MAX), (-1e300, I64_MIN, I64_MIN),
        (INF, I64_MAX, I64_MAX), (-INF, I64_MIN, I64_MIN), (NAN, 0, 0), (-NAN, 0, 0),
    ],
)
def test_module_floor_ceil_saturate(x, floor, ceil):
    assert (tm.floor(x), tm.ceil(number=x)) == (floor, ceil)
    assert type(tm.floor(x)) is int and type(tm.ceil(x)) is int


@given(floats)
@examples(BELOW_2_63, AT_2_63, -AT_2_63, 2.0**52 + 0.5)
def test_module_matches_python(x):
    assert tm.floor(x) == saturated(math.floor, x)
    assert tm.ceil(x) == saturated(math.ceil, x)
    assert tm.sign(x) == sign_of(x) and type(tm.sign(x)) is int
    assert tm.is_positive(x) is (x > 0) and tm.is_negative(x) is (x < 0)
    assert tm.is_integer(x) is x.is_integer()


@pytest.mark.parametrize(
    "x, integer",
    [
        (3.0, True), (-0.0, True), (3.5, False), (INF, False), (-INF, False), (NAN, False),
        (2.0**52, True), (2.0**52 - 0.5, False), (2.0**52 + 1, True), (-(2.0**52) - 1, True),
        (2.0**53 + 2, True), (1e300, True), (5e-324, False),
    ],
)
def test_is_integer(x, integer):
    assert tm.is_integer(x) is integer


@pytest.mark.parametrize("x", [0.0, -0.0, NAN, -NAN])
def test_zero_and_nan_have_no_sign(x):
    assert (tm.sign(x), tm.is_positive(x), tm.is_negative(x)) == (0, False, False)


def test_sign_and_predicates_examples():
    assert [tm.sign(v) for v in (-7.5, 0.001, -INF, INF, 5e-324)] == [-1, 1, -1, 1, 1]
    assert tm.is_negative(-INF) is True and tm.is_positive(True) is True


@given(st.integers(I64_MIN, I64_MAX))
@examples(I64_MIN, I64_MAX, -1, -3, -4)
def test_module_parity_is_lowest_bit(n):
    assert tm.is_even(n) is (n % 2 == 0)
    assert tm.is_odd(number=n) is (n % 2 == 1)


def test_module_parity_accepts_bool_and_index():
    class Index:
        def __index__(self):
            return 7

    assert (tm.is_odd(True), tm.is_even(False), tm.is_odd(Index())) == (True, True, True)


@pytest.mark.parametrize(
    "call, kind, message",
    [
        (lambda: tm.is_even(4.0), TypeError,
         "argument 'number': 'float' object cannot be interpreted as an integer"),
        (lambda: tm.is_odd("3"), TypeError,
         "argument 'number': 'str' object cannot be interpreted as an integer"),
        (lambda: tm.is_odd(2**63), OverflowError, "int too big to convert"),
        (lambda: tm.is_even(I64_MIN - 1), OverflowError, "int too big to convert"),
        (lambda: tm.floor("x"), TypeError, "argument 'number': must be real number, not str"),
        (lambda: tm.ceil(None), TypeError,
         "argument 'number': must be real number, not NoneType"),
        (lambda: tm.sign(10**400), OverflowError, "int too large to convert to float"),
        (lambda: tm.floor(), TypeError, "floor() missing 1 required positional argument: 'number'"),
        (lambda: tm.is_integer(1, 2), TypeError,
         "is_integer() takes 1 positional arguments but 2 were given"),
        (lambda: tm.is_odd(x=1), TypeError, "is_odd() got an unexpected keyword argument 'x'"),
        (lambda: tm.sign(1, number=2), TypeError,
         "sign() got multiple values for argument 'number'"),
    ],
)
def test_module_refusals(call, kind, message, no_leak):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value) is kind and str(caught.value) == message
    no_leak(call)


@pytest.mark.parametrize("error", [TypeError("no"), ValueError("no")])
def test_hostile_conversions(error):
    class Hostile:
        def __float__(self):
            raise error

        def __index__(self):
            raise error

    for function in (tm.floor, tm.is_positive, tm.is_even):
        with pytest.raises(type(error)) as caught:
            function(Hostile())
        wrapped = isinstance(error, TypeError)
        assert str(caught.value) == ("argument 'number': no" if wrapped else "no")


# ---------------------------------------------------------------- method surface

@pytest.mark.parametrize(
    "x, method, stored",
    [
        (2.7, "floor", 2.0), (2.5, "floor", 2.0), (-0.5, "ceil", -0.0), (-0.0, "floor", -0.0),
        (0.5, "floor", 0.0), (INF, "floor", INF), (-INF, "ceil", -INF), (1e300, "ceil", 1e300),
        (AT_2_63 * 4, "floor", AT_2_63 * 4), (NAN, "floor", NAN),
        (-7.5, "sign", -1.0), (0.001, "sign", 1.0), (NAN, "sign", 0.0), (-0.0, "sign", 0.0),
        (-INF, "sign", -1.0),
    ],
)
def test_method_stores_double(x, method, stored):
    t = Tesmarmath(x)
    u = getattr(t, method)()
    assert type(u) is Tesmarmath and u is not t
    assert same(t.get_number(), stored) and same(u.get_number(), stored)


@given(floats)
@examples(-0.5, -0.0, 0.25)
def test_methods_match_python(x):
    for method, want in (
        ("floor", rounded_double(math.floor, x)),
        ("ceil", rounded_double(math.ceil, x)),
        ("sign", float(sign_of(x))),  # +0.0 for both zeros and NaN
    ):
        t = Tesmarmath(x)
        u = getattr(t, method)()
        assert same(u.get_number(), want) and same(t.get_number(), want)


@given(floats)
@examples(2.0**53, 2.0**53 + 2, -(2.0**53), -4.0, -0.0)
def test_method_predicates_leave_receiver(x):
    t = Tesmarmath(x)
    even = is_even_double(x)
    got = (t.is_positive(), t.is_negative(), t.is_even(), t.is_odd())
    assert got == (x > 0, x < 0, even, not even)
    assert all(type(g) is bool for g in got)
    assert same(t.get_number(), x)


@pytest.mark.parametrize(
    "x, even",
    [(4.0, True), (-4.0, True), (0.0, True), (-0.0, True), (2.0**53, True), (1e300, True),
     (3.0, False), (-1.0, False), (2.5, False), (NAN, False), (INF, False), (-INF, False)],
)
def test_method_parity(x, even):
    t = Tesmarmath(x)
    assert (t.is_even(), t.is_odd()) == (even, not even)
    assert same(t.get_number(), x)


def test_no_is_integer_method():
    assert not hasattr(Tesmarmath, "is_integer")


@pytest.mark.parametrize("method", ["floor", "ceil", "sign", "is_positive", "is_even"])
def test_method_binding_refusal(method, no_leak):
    t = Tesmarmath(-2.5)
    call = getattr(t, method)
    with pytest.raises(TypeError, match=rf"^Tesmarmath\.{method}\(\) takes no arguments \(1 given\)$"):
        call(1)
    with pytest.raises(TypeError, match=rf"^Tesmarmath\.{method}\(\) takes no keyword arguments$"):
        call(number=1)
    assert same(t.get_number(), -2.5)
    no_leak(lambda: call(1))


@pytest.mark.parametrize(
    "method, message",
    [("floor", "Already borrowed"), ("ceil", "Already borrowed"), ("sign", "Already borrowed"),
     ("is_positive", "Already mutably borrowed"), ("is_negative", "Already mutably borrowed"),
     ("is_even", "Already mutably borrowed"), ("is_odd", "Already mutably borrowed")],
)
def test_reentry_from_a_conversion(method, message, no_leak):
    t = Tesmarmath(-2.5)
    seen = []

    class Item:
        def __float__(self):
            try:
                getattr(t, method)()
            except RuntimeError as error:
                seen[:] = [str(error)]
                raise
            return 1.0

    with pytest.raises(RuntimeError, match=f"^{message}$"):
        t.sum_of([Item()])
    assert seen == [message] and same(t.get_number(), -2.5)
    assert getattr(t, method)() is not None  # free again
    no_leak(lambda: Tesmarmath(-2.5).sum_of([Item()]))


@pytest.mark.parametrize(
    "call",
    [lambda: tm.floor(1e300), lambda: tm.ceil(-2.5), lambda: tm.sign(NAN),
     lambda: tm.is_positive(1.0), lambda: tm.is_integer(2.0**52), lambda: tm.is_odd(-3),
     lambda: Tesmarmath(-0.5).ceil(), lambda: Tesmarmath(2.7).floor(),
     lambda: Tesmarmath(NAN).sign(), lambda: Tesmarmath(4.0).is_even()],
)
def test_no_leak_on_success(call, no_leak):
    no_leak(call)
