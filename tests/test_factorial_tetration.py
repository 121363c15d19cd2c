"""factorial and tetration on both surfaces; long towers checked against a
plain Python loop, bit for bit."""
import functools
import math
import signal
import struct

import pytest
from hypothesis import assume, example, given, strategies as st

import tesmar_math as tm
from tesmar_math import Tesmarmath

NEGATIVE = "The factorial of a negative number is not defined."
TOO_BIG = "The result is too big (infinity)"
NEGATIVE_HEIGHT = "Height can't be negative"
MAX64 = 2**63 - 1
NAN, INF = math.nan, math.inf
E_ROOT = math.exp(1 / math.e)  # towers creep towards e for ~1e8 steps
# Towers that neither repeat nor overflow for a long time: just above e**(1/e)
# (~2.5e8 steps, then infinity) and at e**-e (towards a 2-cycle, far longer).
CREEPING = [math.nextafter(E_ROOT, 2), math.exp(-math.e)]


def bits(x: float) -> bytes:
    return struct.pack("<d", x)


def same(a: float, b: float) -> bool:
    return math.isnan(a) and math.isnan(b) or bits(a) == bits(b)


def step(b: float, r: float) -> float:
    """One storey, as C's pow gives it (math.pow raises where C returns)."""
    try:
        return math.pow(b, r)
    except OverflowError:
        return INF
    except ValueError:  # negative base to a fraction, or zero to a negative power
        return INF if b == 0 else NAN


def unbits(key: bytes) -> float:
    return struct.unpack("<d", key)[0]


@functools.lru_cache(maxsize=64)  # keyed by bits: 0.0 and -0.0 are different towers
def plain_prefix(key: bytes, top: int) -> tuple[list[float], int | None]:
    """Values for heights 1..top from the plain loop, and the first height
    that reaches an infinity (None if none does)."""
    b = unbits(key)
    values, r = [b], b
    for height in range(2, top + 1):
        r = step(b, r)
        if math.isinf(r):
            return values, height
        values.append(r)
    return values, None


def oracle(b: float, h: int) -> float | None:
    """The plain loop's result for height h; None means the infinity error."""
    if h == 0:
        return 1.0
    values, inf_height = plain_prefix(bits(b), 3000 if h <= 3000 else 10**5)
    if inf_height is not None and h >= inf_height:
        return None
    return values[h - 1]


@functools.lru_cache(maxsize=64)
def walk_until_repeat(key: bytes, budget: int):
    """Every value's bits remembered until one comes back: (values, index
    where the cycle starts, whether an infinity ended the walk instead);
    None when the budget runs out first."""
    b = unbits(key)
    seen, values, r = {}, [], b
    while bits(r) not in seen:
        if len(values) > budget:
            return None
        seen[bits(r)] = len(values)
        values.append(r)
        r = step(b, r)
        if math.isinf(r):
            return values, len(values), True
    return values, seen[bits(r)], False


def cycle_oracle(b: float, h: int, budget: int = 2_000_000):
    """Height h of a tower that repeats, found independently of the module's
    method; "unknown" when it does not repeat within the budget."""
    walk = walk_until_repeat(bits(b), budget)
    if walk is None:
        return "unknown"
    values, start, reaches_inf = walk
    n = h - 1
    if n < len(values):
        return values[n]
    return None if reaches_inf else values[start + (n - start) % (len(values) - start)]


def both(b: float, h: int):
    """Runs both surfaces; returns each outcome and checks the receiver."""
    receiver = Tesmarmath(b)
    outcomes = []
    for call in (lambda: tm.tetration(b, h), lambda: receiver.tetration(h)):
        try:
            outcomes.append(call())
        except ValueError as error:
            outcomes.append(str(error))
    function, method = outcomes
    if isinstance(method, Tesmarmath):
        assert method is not receiver and same(method.get_number(), receiver.get_number())
        method = method.get_number()
    else:
        assert bits(receiver.get_number()) == bits(b)  # untouched on failure
    return function, method


def check_tower(b: float, h: int, want: float | None) -> None:
    for got in both(b, h):
        if want is None:
            assert got == TOO_BIG
        else:
            assert isinstance(got, float) and same(got, want), (b, h, got, want)


# --- factorial -------------------------------------------------------------

@pytest.mark.parametrize("n", [0, 1, 2, 5, 12, 19, 20, 21, 22, 10**18, MAX64, -1, -(2**63)])
def test_module_factorial(n):
    if n < 0 or n > 20:
        with pytest.raises(ValueError) as caught:
            tm.factorial(number=n)
        assert str(caught.value) == (NEGATIVE if n < 0 else "Factorial overflow")
    else:
        assert tm.factorial(n) == math.factorial(n) and type(tm.factorial(n)) is int


@given(st.integers(-(2**63), MAX64))
@example(20)
@example(21)
def test_module_factorial_property(n):
    try:
        got = tm.factorial(n)
    except ValueError as error:
        got = str(error)
    assert got == (NEGATIVE if n < 0 else "Factorial overflow" if n > 20 else math.factorial(n))


@pytest.mark.parametrize("arg, kind, text", [
    (5.0, TypeError, "argument 'number': "), ("5", TypeError, "argument 'number': "),
    (None, TypeError, "argument 'number': "),
    (2**63, OverflowError, ""), (-(2**63) - 1, OverflowError, ""),
])
def test_module_factorial_conversion(arg, kind, text):
    with pytest.raises(kind) as caught:
        tm.factorial(arg)
    assert str(caught.value).startswith(text)
    assert (kind is TypeError) == str(caught.value).startswith("argument")


def method_factorial_expected(x: float):
    n = 0 if math.isnan(x) else math.trunc(x) if math.isfinite(x) else (1 if x > 0 else -1) * 2**127
    return NEGATIVE if n < 0 else "Factorial overflow." if n > 33 else float(math.factorial(n))


@pytest.mark.parametrize("x", [
    0.0, -0.0, 1.0, 5.0, 5.9, -0.5, -0.999, NAN, 20.0, 21.0, 33.0, 33.99, 34.0, 1e300, INF,
    -1.0, -1.5, -1e300, -INF, 1.7014118346046921e38, 1.7014118346046923e38, -1.7014118346046923e38,
])
def test_method_factorial(x):
    want, receiver = method_factorial_expected(x), Tesmarmath(x)
    if isinstance(want, str):
        with pytest.raises(ValueError) as caught:
            receiver.factorial()
        assert str(caught.value) == want and bits(receiver.get_number()) == bits(x)
    else:
        result = receiver.factorial()
        assert result is not receiver and type(result) is Tesmarmath
        assert bits(result.get_number()) == bits(want) == bits(receiver.get_number())


@given(st.floats(-40, 40) | st.floats())
def test_method_factorial_property(x):
    want, receiver = method_factorial_expected(x), Tesmarmath(x)
    try:
        got = receiver.factorial().get_number()
    except ValueError as error:
        got = str(error)
    assert got == want


def test_factorial_limits_exactly():
    assert tm.factorial(20) == 2432902008176640000
    assert Tesmarmath(33).factorial().get_number() == 8.683317618811886e36 == float(math.factorial(33))
    assert tm.factorial(True) == 1


# --- tetration: examples ---------------------------------------------------

@pytest.mark.parametrize("b, h, want", [
    (2, 0, 1.0), (NAN, 0, 1.0), (INF, 0, 1.0), (-INF, 0, 1.0),
    (2, 1, 2.0), (INF, 1, INF), (-INF, 1, -INF), (NAN, 1, NAN), (-0.0, 1, -0.0),
    (2, 2, 4.0), (2, 3, 16.0), (2, 4, 65536.0), (3, 3, 7625597484987.0), (0.0, 2, 1.0), (0.0, 3, 0.0),
    (-0.0, 3, -0.0), (-2, 2, 0.25), (-2, 3, NAN), (-INF, 2, 0.0), (NAN, 5, NAN),
    (1, 2, 1.0), (1, MAX64, 1.0), (-1, MAX64, -1.0), (-1, MAX64 - 1, -1.0), (NAN, MAX64, NAN),
    (2, 5, None), (10, 3, None), (INF, 2, None), (1.5, MAX64, None), (2.0, 2**62, None),
])
def test_tetration_examples(b, h, want):
    check_tower(float(b), h, want)


@pytest.mark.parametrize("b", [2.0, NAN, INF, -INF, 0.5])
@pytest.mark.parametrize("h", [-1, -2, -(2**63)])
def test_negative_height(b, h):
    assert both(b, h) == (NEGATIVE_HEIGHT, NEGATIVE_HEIGHT)


def test_tetration_keywords_and_conversion():
    assert tm.tetration(base=2, height=3) == 16.0
    assert Tesmarmath(2).tetration(height=3).get_number() == 16.0
    receiver = Tesmarmath(0.5)
    for bad, kind, prefix in [(2.0, TypeError, "argument 'height': "), ("3", TypeError, "argument 'height': "),
                              (2**63, OverflowError, ""), (-(2**63) - 1, OverflowError, "")]:
        for call in (lambda: tm.tetration(2, bad), lambda: receiver.tetration(bad)):
            with pytest.raises(kind) as caught:
                call()
            assert str(caught.value).startswith(prefix)
            assert (kind is TypeError) == str(caught.value).startswith("argument")
    assert bits(receiver.get_number()) == bits(0.5)


def test_base_converted_before_height():
    looked = []

    class Height:
        def __index__(self):
            looked.append(1)
            return 3

    with pytest.raises(TypeError, match="^argument 'base': "):
        tm.tetration("x", Height())
    assert not looked and tm.tetration(2, Height()) == 16.0


@pytest.mark.parametrize("op", ["tetration", "factorial"])
def test_reentry_and_raising_index(op):
    receiver = Tesmarmath(2.0)
    seen = []

    class Reenter:
        def __index__(self):
            with pytest.raises(RuntimeError) as caught:
                receiver.get_number()
            assert str(caught.value) == "Already mutably borrowed"
            seen.append(1)
            return 3

    class Raises:
        def __index__(self):
            raise ZeroDivisionError("inner")

    if op == "tetration":
        assert receiver.tetration(Reenter()).get_number() == 16.0 and seen
        receiver = Tesmarmath(2.0)
        with pytest.raises(ZeroDivisionError, match="^inner$"):
            receiver.tetration(Raises())
        assert receiver.get_number() == 2.0
    else:
        with pytest.raises(ZeroDivisionError, match="^inner$"):
            tm.factorial(Raises())


# --- tetration: long towers against the plain loop --------------------------

NAMED = [0.01, 0.3, 0.5, 1.2, 1.44, 0.066, -0.5, 1.0, -1.0, NAN, 0.0, -0.0, 2.0, -2.0,
         *CREEPING, E_ROOT, 0.07, 0.06, 5e-324, -1.5]

bases = (st.sampled_from(NAMED) | st.floats(0, E_ROOT) | st.floats(0.05, 0.08)
         | st.floats(allow_nan=True, allow_infinity=True))


@given(bases, st.integers(0, 3000))
@example(0.01, 55)
@example(0.3, 81)
@example(0.5, 47)
@example(1.2, 26)
@example(1.44, 245)
def test_tower_equals_plain_loop(b, h):
    check_tower(b, h, oracle(b, h))


@pytest.mark.parametrize("b", NAMED)
@pytest.mark.parametrize("h", [2**16, 2**16 + 1, 54_321, 99_999, 10**5])
def test_tower_equals_plain_loop_at_long_heights(b, h):
    check_tower(b, h, oracle(b, h))


@pytest.mark.parametrize("b", [0.01, 0.3, 0.5, 1.2, 1.44, 0.066, -0.5, 1.0, -1.0, NAN, 0.0, 0.07])
@pytest.mark.parametrize("h", [2**62, 2**62 + 1, 10**18 + 7, MAX64])
def test_huge_heights_of_repeating_towers(b, h):
    check_tower(b, h, cycle_oracle(b, h))


@given(st.floats(1e-300, 0.06) | st.floats(0.07, 1.44) | st.floats(-10, 0),
       st.integers(3000, MAX64))
def test_huge_heights_property(b, h):
    want = cycle_oracle(b, h, budget=200_000)
    assume(want != "unknown")
    check_tower(b, h, want)


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize("b", CREEPING)
@pytest.mark.parametrize("surface", ["function", "method"])
def test_creeping_tower_can_be_interrupted(b, surface):
    receiver = Tesmarmath(b)
    call = (lambda: tm.tetration(b, 2**62)) if surface == "function" else (lambda: receiver.tetration(2**62))

    def alarm(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, alarm)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert bits(receiver.get_number()) == bits(b)


# --- leaks ------------------------------------------------------------------

@pytest.mark.parametrize("call", [
    lambda: tm.factorial(20), lambda: tm.factorial(21), lambda: tm.factorial(-1),
    lambda: tm.factorial(5.0), lambda: tm.factorial(2**63),
    lambda: Tesmarmath(33).factorial(), lambda: Tesmarmath(34).factorial(),
    lambda: Tesmarmath(-1).factorial(),
    lambda: tm.tetration(2, 4), lambda: tm.tetration(2, 5), lambda: tm.tetration(2, -1),
    lambda: tm.tetration(0.5, MAX64), lambda: tm.tetration(2, 2.0), lambda: tm.tetration("x", 2),
    lambda: Tesmarmath(0.3).tetration(MAX64), lambda: Tesmarmath(2).tetration(5),
    lambda: Tesmarmath(2).tetration(-1), lambda: Tesmarmath(2).tetration(2**63),
])
def test_no_leak(no_leak, call):
    no_leak(call)
