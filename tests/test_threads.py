"""Threads sharing instances: a conversion that runs Python code can hand the
interpreter to another thread while its method holds the receiver; that
thread meets the borrow flag as a RuntimeError, never a crash."""

import random
import sys
import threading
import time

import tesmar_math as tm
from registry import METHODS, Index, Real, Tesmarmath, key, outcome

CONFLICTS = {"Already borrowed", "Already mutably borrowed"}


def test_a_held_receiver_refuses_other_threads():
    t, entered, release, results = Tesmarmath(10.0), threading.Event(), threading.Event(), []

    def wait():
        entered.set()
        assert release.wait(10)  # waiting hands the interpreter over

    worker = threading.Thread(target=lambda: results.append(t.div_of([Real(4.0, wait)])))
    worker.start()
    try:
        assert entered.wait(10)
        for call, reads in ((t.square, False), (lambda: t.power(2), False), (t.get_number, True),
                            (t.is_even, True), (lambda: repr(t), True), (lambda: str(t), True)):
            assert outcome(call) == (RuntimeError, ("Already mutably borrowed" if reads else "Already borrowed",))
        assert Tesmarmath(3.0).square().get_number() == tm.square(3.0) == 9.0  # others are untouched
    finally:
        release.set()
        worker.join()
    assert t.get_number() == results[0].get_number() == 2.5 and t.mult_of([2]).get_number() == 5.0


def yielding(sample, other):
    """The sample, converted by Python code that gives other threads a turn
    and calls into another shared instance."""
    def effect():
        time.sleep(0)
        try:
            other.cos(3)
        except RuntimeError as error:
            assert str(error) in CONFLICTS

    if isinstance(sample, list):
        return [yielding(v, other) for v in sample]
    return (Real if isinstance(sample, float) else Index)(sample, effect)


def test_threads_sharing_instances_never_crash():
    shared, failures, conflicts = [Tesmarmath(float(i)) for i in (1, 2, 3)], [], []

    def work(seed):
        rng = random.Random(seed)
        for _ in range(1500):
            t, entry = rng.choice(shared), rng.choice(METHODS)
            try:
                getattr(t, entry.name)(*(yielding(s, rng.choice(shared)) for s in entry.sample()))
            except RuntimeError as error:
                (conflicts if str(error) in CONFLICTS else failures).append(error)
            except (ValueError, ZeroDivisionError):
                outcome(t.sign)  # keeps the numbers small
            except BaseException as error:  # noqa: BLE001
                failures.append(error)

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(previous)
    assert failures == [] and conflicts, "no thread ever met another's held receiver"
    assert all(key(t.mult_of([]).get_number()) == key(t.get_number()) for t in shared)  # every flag is free
