"""Threads sharing instances: a conversion that runs Python code can hand the
interpreter to another thread while its method holds the receiver; that
thread then meets the borrow flag as a RuntimeError, never a crash."""

import random
import struct
import sys
import threading
import time

import pytest

import tesmar_math as tm
from tesmar_math import Tesmarmath

CONFLICT = {"Already borrowed", "Already mutably borrowed"}
OPERATION_ERRORS = {"Can't divide by zero!", "Cannot calculate square root of a negative number",
                    "The result is too big (infinity)", "Tangent undefined (cos close to 0)"}


def bits(x):
    return struct.pack("<d", x)


@pytest.fixture
def fast_switching():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


def test_a_held_receiver_refuses_other_threads():
    t = Tesmarmath(10.0)
    entered, release = threading.Event(), threading.Event()

    class Waits:
        def __float__(self):
            entered.set()
            assert release.wait(10)  # waiting hands the interpreter over
            return 4.0

    outcome = []
    worker = threading.Thread(target=lambda: outcome.append(t.div_of([Waits()])))
    worker.start()
    assert entered.wait(10)
    try:
        for call, message in [(t.square, "Already borrowed"), (lambda: t.power(2), "Already borrowed"),
                              (t.get_number, "Already mutably borrowed"), (t.is_even, "Already mutably borrowed"),
                              (lambda: repr(t), "Already mutably borrowed"), (lambda: str(t), "Already mutably borrowed")]:
            with pytest.raises(RuntimeError) as caught:
                call()
            assert caught.type is RuntimeError and str(caught.value) == message
        assert Tesmarmath(3.0).square().get_number() == 9.0  # other instances are untouched
        assert tm.square(3.0) == 9.0
    finally:
        release.set()
        worker.join()
    (result,) = outcome
    assert t.get_number() == result.get_number() == 2.5
    assert t.mult_of([2]).get_number() == 5.0  # free again


class Yields:
    """A number whose conversion gives other threads a turn, and sometimes
    calls into a shared instance itself."""

    def __init__(self, value, shared):
        self.value, self.shared = value, shared

    def __float__(self):
        time.sleep(0)
        if self.value < 0:
            try:
                self.shared.cos(3)
            except RuntimeError as error:
                assert str(error) in CONFLICT
        return float(self.value)

    def __index__(self):
        return int(self.__float__()) % 5


CALLS = [
    lambda t, y: t.sum_of([y, 1.0]), lambda t, y: t.div_of([y]), lambda t, y: t.mult_of((y, y)),
    lambda t, y: t.int_div_of([y]), lambda t, y: t.gcd_with_float([y, 6.0]), lambda t, y: t.lcm_with([y, 2]),
    lambda t, y: t.power(y), lambda t, y: t.cos(y), lambda t, y: t.tan(terms=y), lambda t, y: t.tetration(y),
    lambda t, y: t.square(), lambda t, y: t.square_root(), lambda t, y: t.floor(), lambda t, y: t.is_odd(),
    lambda t, y: t.get_number(), lambda t, y: repr(t), lambda t, y: str(t), lambda t, y: Tesmarmath(y),
    lambda t, y: tm.sum_of([y, y]), lambda t, y: tm.cos(y, y),
]


def test_threads_sharing_instances_never_crash(fast_switching):
    shared = [Tesmarmath(float(i)) for i in range(1, 4)]
    conflicts, failures = [], []

    def work(seed):
        rng = random.Random(seed)
        for _ in range(4000):
            t, other = rng.choice(shared), rng.choice(shared)
            try:
                result = rng.choice(CALLS)(t, Yields(rng.uniform(-3, 3), other))
            except RuntimeError as error:
                (conflicts if str(error) in CONFLICT else failures).append(error)
            except (ValueError, ZeroDivisionError) as error:
                if str(error) not in OPERATION_ERRORS:
                    failures.append(error)
            except BaseException as error:  # noqa: BLE001
                failures.append(error)
            else:
                if isinstance(result, Tesmarmath):
                    result.get_number()
            if rng.random() < 0.01:  # keep the numbers small
                try:
                    t.sign()
                except RuntimeError:
                    pass

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert conflicts, "no thread ever met another's held receiver"
    for t in shared:  # every flag is free again
        before = bits(t.get_number())
        assert bits(t.mult_of([]).get_number()) == before
