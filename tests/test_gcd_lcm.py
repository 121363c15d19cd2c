"""gcd_with_int, gcd_with_float and lcm_with: module functions and methods."""
import math
import struct
from fractions import Fraction

import pytest
from hypothesis import example, given, strategies as st

import tesmar_math
from tesmar_math import Tesmarmath

LO, HI = -2**63, 2**63 - 1
NAN, INF = math.nan, math.inf
RECEIVERS = [5.0, -0.0, NAN, -INF]


def bits(x: float) -> bytes:
    return b"nan" if math.isnan(x) else struct.pack("<d", x)


def integer_view(x: float) -> int:
    """Halves away from zero on the exact value, then the saturating conversion."""
    if math.isnan(x):
        return 0
    if math.isinf(x):
        return HI if x > 0 else LO
    n = math.floor(abs(Fraction(x)) + Fraction(1, 2))
    return max(LO, min(HI, n if x > 0 else -n))


def lcm_fold(xs: list[float]) -> float:
    if not xs:
        return 0.0
    multiple = abs(xs[0])
    for x in xs[1:]:
        g = math.gcd(integer_view(multiple), integer_view(abs(x)))
        if g == 0:
            return 0.0
        multiple = multiple * abs(x) / float(g)
    return multiple


def both(name: str, args, *receivers: float):
    """The module result, checked against the method form on fresh receivers,
    whose stored numbers must not matter."""
    want = getattr(tesmar_math, name)(args)
    for receiver in receivers or RECEIVERS:
        t = Tesmarmath(receiver)
        got = getattr(t, name)(args)
        if name == "gcd_with_float":
            assert type(got) is int and got == want
        else:
            assert type(got) is Tesmarmath and got is not t
            assert bits(got.get_number()) == bits(t.get_number())
        assert bits(t.get_number()) == bits(float(want))
    return want


@pytest.mark.parametrize("args, want", [
    ([12, 18, 8], 2), ([48, -180, 300], 12), ([-4], 4), ([-7, -21], 7), ((6, 10), 2),
    ([0], 0), ([0, 0], 0), ([0, 5], 5), ([5, 0], 5), ([7, 0, 21], 7), ([0, -6, 0, 9, 0], 3),
    ([LO], 2**63), ([LO, 6], 2), ([6, LO], 2), ([LO, 7, LO], 1), ([LO, LO], 2**63),
    ([LO, 0], 2**63), ([0, LO], 2**63), ([LO, -1], 1), ([-1, LO], 1), ([-2**62, LO], 2**62),
    ([HI], HI), ([HI, LO], 1), ([HI, 0, HI], HI), ([9007199254740993], 9007199254740993),
    (range(12, 40, 6), 6), (b"\x0c\x12", 6), ([True, 4], 1),
])
def test_gcd_with_int(args, want):
    got = both("gcd_with_int", args)
    assert type(got) is int and got == want


@pytest.mark.parametrize("args, want", [
    ([12.0, 18.0], 6), ([12, 18], 6), ([2.5, 7.4], 1), ([0.4, 0.3, 9.0], 9),
    ([0.5], 1), ([1.5], 2), ([2.5], 3), ([-0.5], 1), ([-2.5], 3), ([0.4], 0),
    ([0.49999999999999994], 0), ([-0.49999999999999994], 0), ([0.0, -0.0], 0), ([-0.0, 5.5], 6),
    ([4503599627370497.0], 4503599627370497), ([4503599627370495.5], 4503599627370496),
    ([NAN], 0), ([NAN, 6.0], 6), ([6.0, NAN], 6), ([INF], HI), ([INF, 7.0], 7), ([49.0, INF], 49),
    ([-INF], 2**63), ([-INF, 6.0], 2), ([6.0, -INF], 2), ([-2.0**63], 2**63), ([2.0**63], HI),
    ([9223372036854774784.0], 9223372036854774784), ([-1e300, 4.0], 4), ([1e300, 3.0], 1),
])
def test_gcd_with_float(args, want):
    got = both("gcd_with_float", args)
    assert type(got) is int and got == want


@pytest.mark.parametrize("args, want", [
    ([4.0, 6.0], 12.0), ([-4.0, 6.0], 12.0), ([2, 3, 4], 12.0), ([4, 6, 10], 60.0),
    ([-3.0], 3.0), ([-0.0], 0.0), ([], 0.0), ([0, 5], 0.0), ([5, -0.0], 0.0),
    ([0.3, 0.2], 0.0), ([0.3, 0.2, NAN], 0.0), ([0.1, 0.2, INF], 0.0), ([7.0, 0.2, 0.3], 0.0),
    ([0.4, 3.0], 0.4000000000000001), ([0.6, 0.4], 0.24), ([0.5, 0.5], 0.25), ([1.5, 2.0], 1.5),
    ([2.5, 3.0], 2.5), ([0.5, 3.0], 1.5), ([2.5, 2.0], 5.0), ([1e200, 1e200], INF),
    ([1e19, 3.0], 3e19), ([NAN, 6.0], NAN), ([6.0, NAN], NAN), ([-INF], INF), ([INF, 0.0], NAN),
])
def test_lcm_with(args, want):
    got = both("lcm_with", args)
    assert type(got) is float and bits(got) == bits(want) == bits(lcm_fold(list(args)))


@pytest.mark.parametrize("receiver", RECEIVERS)
def test_method_results(receiver):
    t = Tesmarmath(receiver)
    assert tesmar_math.gcd_with_int([9007199254740993]) == 9007199254740993
    assert t.gcd_with_int([9007199254740993]).get_number() == t.get_number() == 9007199254740992.0
    assert t.gcd_with_float([INF]) == HI and t.get_number() == 2.0**63
    assert t.gcd_with_float([-INF]) == 2**63 and t.get_number() == 2.0**63
    assert t.gcd_with_float([12.0, 18.0]) == 6 and t.get_number() == 6.0
    assert t.lcm_with([]).get_number() == 0.0 and bits(t.get_number()) == bits(0.0)


class Calls:
    """An item whose conversion runs `action`."""
    def __init__(self, action):
        self.action = action

    def __index__(self):
        return self.action()

    __float__ = __index__


def boom(kind):
    def action():
        raise kind("boom")
    return action


EMPTY = "{}() requires at least one argument"
ARGS = "argument 'args': "
NOT_INT = ARGS + "'{}' object cannot be interpreted as an integer"
NOT_SEQ = ARGS + "'{}' object cannot be converted to 'Sequence'"
TOO_BIG = "int too big to convert"  # CPython's own, passed on unchanged
FAILURES = [  # (name, args, exception, message)
    ("gcd_with_int", [], ValueError, EMPTY.format("gcd_with_int")),
    ("gcd_with_int", (), ValueError, EMPTY.format("gcd_with_int")),
    ("gcd_with_float", [], ValueError, EMPTY.format("gcd_with_float")),
    ("gcd_with_float", range(0), ValueError, EMPTY.format("gcd_with_float")),
    ("gcd_with_int", [2.0], TypeError, NOT_INT.format("float")),
    ("gcd_with_int", [4, 6, 0.0], TypeError, NOT_INT.format("float")),
    ("gcd_with_int", ["1"], TypeError, NOT_INT.format("str")),
    ("gcd_with_int", [2**63], OverflowError, TOO_BIG),
    ("gcd_with_int", [6, LO - 1], OverflowError, TOO_BIG),
    ("gcd_with_int", [2**64], OverflowError, TOO_BIG),
    ("gcd_with_float", [6.0, 2**1100], OverflowError, "int too large to convert to float"),
    ("lcm_with", [6.0, "x"], TypeError, ARGS + "must be real number, not str"),
    *[(name, "12", TypeError, ARGS + "Can't extract `str` to `Vec`")
      for name in ("gcd_with_int", "gcd_with_float", "lcm_with")],
    ("gcd_with_int", {4, 6}, TypeError, NOT_SEQ.format("set")),
    ("lcm_with", 4.0, TypeError, NOT_SEQ.format("float")),
    ("gcd_with_int", [4, Calls(boom(TypeError))], TypeError, ARGS + "boom"),
    ("gcd_with_float", [Calls(boom(ValueError))], ValueError, "boom"),
    ("lcm_with", [Calls(boom(ZeroDivisionError))], ZeroDivisionError, "boom"),
]


@pytest.mark.parametrize("name, args, kind, message", FAILURES)
@pytest.mark.parametrize("receiver", RECEIVERS)
def test_failures_leave_receiver(name, args, kind, message, receiver, no_leak):
    t = Tesmarmath(receiver)
    for call in (lambda: getattr(tesmar_math, name)(args), lambda: getattr(t, name)(args)):
        with pytest.raises(kind) as info:
            call()
        assert type(info.value) is kind and info.value.args == (message,)
        assert bits(t.get_number()) == bits(receiver)
    if receiver == 5.0:
        no_leak(lambda: getattr(tesmar_math, name)(args))
        no_leak(lambda: getattr(t, name)(args))


@pytest.mark.parametrize("name", ["gcd_with_int", "gcd_with_float", "lcm_with"])
def test_reentry_and_binding(name):
    t = Tesmarmath(3.0)
    for inner, message in ((t.get_number, "Already mutably borrowed"),
                           (lambda: getattr(t, name)([4]), "Already borrowed")):
        with pytest.raises(RuntimeError, match=f"^{message}$"):
            getattr(t, name)([6, Calls(inner)])
    with pytest.raises(TypeError) as info:
        getattr(t, name)()
    assert str(info.value) == f"Tesmarmath.{name}() missing 1 required positional argument: 'args'"
    assert t.get_number() == 3.0
    assert getattr(tesmar_math, name)(args=[4, 6]) == getattr(tesmar_math, name)([4, 6])
    assert getattr(tesmar_math, name).__text_signature__ == "(args)"
    assert getattr(Tesmarmath, name).__text_signature__ == "($self, args)"


@pytest.mark.parametrize("call", [
    lambda: tesmar_math.gcd_with_int([LO, 6, 0, HI]),
    lambda: Tesmarmath(1.0).gcd_with_int([2**62, 6]),
    lambda: tesmar_math.gcd_with_float([-INF, 6.0, NAN]),
    lambda: Tesmarmath(1.0).gcd_with_float([INF]),
    lambda: tesmar_math.lcm_with([0.4, 3.0, 7.5]),
    lambda: Tesmarmath(1.0).lcm_with([4, 6, 10]),
])
def test_no_leak_on_success(call, no_leak):
    no_leak(call)


i64 = st.integers(LO, HI) | st.sampled_from([LO, HI, -1, 0, 1])
scaled = st.builds(lambda k, xs: [k * x for x in xs],
                   st.integers(1, 2**20), st.lists(st.integers(-2**42, 2**42), min_size=1))
halves = st.integers(-2**53, 2**53).map(lambda n: n / 2)
doubles = st.floats() | halves | st.integers(-1000, 1000).map(float) | st.sampled_from(
    [0.49999999999999994, -0.49999999999999994, 4503599627370497.0, 2.0**63, -2.0**63])


@given(st.lists(i64, min_size=1) | scaled, st.floats())
def test_gcd_with_int_matches_math_gcd(xs, receiver):
    assert both("gcd_with_int", xs, receiver) == math.gcd(*xs)


@given(st.lists(doubles, min_size=1), st.floats())
@example([-INF, LO * 1.0, 4503599627370497.0], 0.0)
def test_gcd_with_float_matches_integer_views(xs, receiver):
    assert both("gcd_with_float", xs, receiver) == math.gcd(*map(integer_view, xs))


@given(st.lists(doubles | st.floats(-64, 64), max_size=6), st.floats())
def test_lcm_with_matches_fold(xs, receiver):
    assert bits(both("lcm_with", xs, receiver)) == bits(lcm_fold(xs))
