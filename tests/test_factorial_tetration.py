"""factorial against math.factorial within each surface's width; tetration
against the plain loop of C pow, bit for bit, at heights no loop could
reach through an independent cycle finder; a creeping tower polls for
signals in the main thread only, and a handler meets the held receiver."""

import functools
import math
import signal
import threading
import time

import pytest
import tesmar_math as tm
from hypothesis import assume, given
from hypothesis import strategies as st
from registry import FLOATS, Tesmarmath, c_pow, examples, key, outcome

NEGATIVE = (ValueError, ("The factorial of a negative number is not defined.",))
E_ROOT = math.exp(1 / math.e)  # towers of bases near it or near e**-e creep for billions of steps
CREEPING = [math.nextafter(E_ROOT, 2), math.exp(-math.e)]


@given(n=st.integers(-(2**63), 2**63 - 1) | st.integers(-2, 24))
def test_function_factorial_is_64_bit(n):
    want = (
        NEGATIVE
        if n < 0
        else (ValueError, ("Factorial overflow",))
        if n > 20
        else (int, math.factorial(n))
    )
    assert outcome(tm.factorial, n) == want


@given(x=st.floats(-40, 40) | FLOATS)
@examples(33.99, -0.5, math.nan, math.inf, -math.inf, 1e300, -1e300)
def test_method_factorial_truncates_to_128_bits(x):
    n = 0 if math.isnan(x) else math.trunc(x) if math.isfinite(x) else x
    want = (
        NEGATIVE
        if n < 0
        else (ValueError, ("Factorial overflow.",))
        if n > 33
        else (Tesmarmath, key(float(math.factorial(n))))
    )
    assert outcome(Tesmarmath(x).factorial) == want


@functools.lru_cache(maxsize=256)
def walk(bits, b, limit):
    """The plain loop's values until one comes back bit for bit, an
    infinity ends it or the limit is reached: (values, start of the cycle)."""
    values, seen, r = [], {}, b
    while len(values) < limit and key(r) not in seen:
        seen[key(r)] = len(values)
        values.append(r)
        r = c_pow(b, r)
        if math.isinf(r):
            return values, None
    return values, seen.get(key(r))


def tower(b, h):
    if h < 0:
        return ValueError, ("Height can't be negative",)
    if h == 0:
        return float, key(1.0)
    values, start = walk(key(b), b, min(h, 200_000))
    n = h - 1
    if n < len(values):
        return float, key(values[n])
    if start is None:
        return (
            (ValueError, ("The result is too big (infinity)",)) if len(values) < 200_000 else None
        )
    return float, key(values[start + (n - start) % (len(values) - start)])


bases = (
    st.sampled_from([0.01, 0.3, 0.5, 1.2, 1.44, 0.066, -0.5, -1.0, 2.0, 3.0, 5e-324, *CREEPING])
    | st.floats(0, E_ROOT)
    | st.floats(0.05, 0.08)
    | FLOATS
)
heights = st.integers(-3, 3000) | st.sampled_from(
    [2**16, 2**16 + 1, 99_999, 2**62, 2**62 + 1, 2**63 - 1]
)


@given(b=bases, h=heights)
@examples(
    (math.nan, 0),
    (math.inf, 1),
    (2.0, 4),
    (3.0, 3),
    (2.0, 5),
    (-2.0, 3),
    (1.44, 245),
    (0.01, 55),
    (0.01, 2**62 + 1),
    (0.066, 2**62 + 1),
    (0.05, 2**62),
    (-1.0, 2**63 - 1),
    (2.0, 2**62),
)
def test_tetration_is_the_plain_loop(b, h):
    want = tower(b, h)
    assume(want is not None)  # no repeat within reach of the oracle
    assert outcome(tm.tetration, b, h) == want


@pytest.mark.parametrize("base", CREEPING)
@pytest.mark.parametrize("method", [False, True])
def test_a_signal_handler_meets_the_held_receiver_during_a_long_tower(base, method):
    t, met = Tesmarmath(base), []

    def handler(signum, frame):
        for call in (t.get_number, lambda: t.mult_of([])):
            try:
                call()
            except RuntimeError as error:
                met.append(str(error))
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            t.tetration(2**62) if method else tm.tetration(base, 2**62)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert met == (["Already mutably borrowed", "Already borrowed"] if method else [])
    assert key(t.get_number()) == key(base) and key(t.square().get_number()) == key(base * base)


def test_a_tower_on_another_thread_runs_through_signals():
    """Handlers run in the main thread only: the worker's tower ends as if
    no signal came, and the handler runs in the main thread."""
    base, ran = CREEPING[0], []
    want = key(tm.tetration(base, 2**21))

    def tower():
        time.sleep(0.05)  # the main thread waits in join() meanwhile, not for the interpreter lock
        signal.raise_signal(signal.SIGALRM)
        ran.append(key(tm.tetration(base, 2**21)))

    in_main = lambda *_: ran.append(threading.current_thread() is threading.main_thread())  # noqa: E731
    previous = signal.signal(signal.SIGALRM, in_main)
    try:
        worker = threading.Thread(target=tower)
        worker.start()
        worker.join()
    finally:
        signal.signal(signal.SIGALRM, previous)
    assert (
        len(ran) == 2 and want in ran and True in ran
    )  # in this order unless the machine is very slow
