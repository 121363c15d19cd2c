# factorial against math.factorial within each surface's width; tetration against the plain loop of
# C pow, bit for bit, at heights no loop could reach through an independent cycle finder; a creeping
# tower polls for signals, and a handler meets the held receiver.

import functools
import math
import signal

import pytest
import tesmar_math as tm
from hypothesis import assume, given
from hypothesis import strategies as st
from registry import FLOATS, Tesmarmath, c_pow, examples, key, outcome

E_ROOT = math.exp(1 / math.e)  # towers of bases near it or near e**-e creep for billions of steps
CREEPING = [math.nextafter(E_ROOT, 2), math.exp(-math.e)]


def factorial(n, largest, overflow):
    if n < 0:
        raise ValueError("The factorial of a negative number is not defined.")
    if n > largest:
        raise ValueError(overflow)
    return math.factorial(n)


@given(n=st.integers(-(2**63), 2**63 - 1) | st.integers(-2, 24))
@examples(21, 20, 0, -1, 1, 2)
def test_factorial_function_works_on_64_bit_ints(n):
    assert outcome(tm.factorial, n) == outcome(factorial, n, 20, "Factorial overflow")


@given(x=st.floats(-40, 40) | FLOATS)
@examples(33.99, -0.5, math.nan, math.inf, -math.inf, 1e300)
def test_factorial_method_works_on_128_bit_ints(x):
    whole = 0 if math.isnan(x) else math.trunc(x) if math.isfinite(x) else x  # saturated
    want = outcome(lambda: Tesmarmath(float(factorial(whole, 33, "Factorial overflow."))))
    assert outcome(Tesmarmath(x).factorial) == want


# The plain loop's values until one comes back bit for bit, an infinity ends it or the limit is
# reached: (values, start of the cycle).
@functools.lru_cache(maxsize=256)
def walk(bits, b, limit):
    values, seen, r = [], {}, b
    while len(values) < limit and key(r) not in seen:
        seen[key(r)] = len(values)
        values.append(r)
        r = c_pow(b, r)
        if math.isinf(r):
            return values, None
    return values, seen.get(key(r))


# The plain loop's outcome at height h, or None past the oracle's reach.
def tower(b, h):
    if h < 1:
        return (float, key(1.0)) if h == 0 else (ValueError, ("Height can't be negative",))
    loop, start = walk(key(b), b, min(h, 200_000))
    if h - 1 < len(loop):
        return float, key(loop[h - 1])
    if start is None:  # no cycle: an infinity ended the walk, or the limit did
        return (ValueError, ("The result is too big (infinity)",)) if len(loop) < 200_000 else None
    return float, key(loop[start + (h - 1 - start) % (len(loop) - start)])


SOME_BASES = [0.01, 0.3, 0.5, 1.2, 1.44, 0.066, -0.5, -1.0, 2.0, 3.0, 5e-324, *CREEPING]
bases = st.sampled_from(SOME_BASES) | st.floats(0, E_ROOT) | st.floats(0.05, 0.08) | FLOATS
FAR = [2**16, 2**16 + 1, 99_999, 2**62, 2**62 + 1, 2**63 - 1]  # past a poll, past any loop
heights = st.integers(-3, 3000) | st.sampled_from(FAR)


@given(b=bases, h=heights)
@examples((math.nan, 0), (math.inf, 1), (2.0, 4), (3.0, 3), (2.0, 5), (-2.0, 3), (1.44, 245))
@examples((0.01, 55), (0.01, 2**62 + 1), (0.066, 2**62 + 1), (0.05, 2**62), (-1.0, 2**63 - 1))
@examples((2.0, 2**62), (3.0, 2), (-0.5, 2))
def test_tetration_is_the_plain_loop(b, h):
    want = tower(b, h)
    assume(want is not None)  # no repeat within reach of the oracle
    assert outcome(tm.tetration, b, h) == want


@pytest.mark.parametrize("base", CREEPING)
@pytest.mark.parametrize("method", [False, True])
def test_a_signal_handler_meets_the_held_receiver_during_a_long_tower(base, method):
    t, met = Tesmarmath(base), []

    def handler(signum, frame):
        met.extend(outcome(call)[1] for call in (t.get_number, lambda: t.mult_of([])))
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            t.tetration(2**62) if method else tm.tetration(base, 2**62)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    held = [("Already mutably borrowed",), ("Already borrowed",)]
    assert met == (held if method else [key(base), key(base)])
    assert key(t.get_number()) == key(base) and key(t.square().get_number()) == key(base * base)
