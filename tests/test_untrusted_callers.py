"""Python code that the module runs (a conversion, a signal handler) may drop the caller's
references, re-enter the module ever deeper, or move memory being read: every callable ends in
its usual result or a clean exception. The process-wide cases run in a process of their own."""

from functools import partial

import pytest
from own_process import DEEP, run
from registry import EVERY, hooked, outcome
from tesmar_math import Tesmarmath


# A new object equal to `value`, so that whoever holds it holds the only reference.
def fresh(value):
    if isinstance(value, list):
        return [fresh(item) for item in value]
    return type(value)(str(value))


def empty(call):  # the partial's receiver and arguments lose their last reference
    call.__setstate__((len, (), None, None))


DROPPING = [(e, i) for e in EVERY for i in range(len(e.params))]


@pytest.mark.parametrize(
    ("entry", "at"), DROPPING, ids=[f"{e!r} {e.params[i][0]}" for e, i in DROPPING]
)
def test_a_conversion_dropping_the_callers_references_changes_no_result(entry, at):
    arguments = [fresh(value) for value in entry.sample()]
    usual = outcome(entry.on(Tesmarmath(2.5)), *arguments)
    arguments[at] = hooked(arguments[at], lambda: empty(call))
    function = getattr(Tesmarmath, entry.name) if entry.method else entry.on(None)
    receiver = [Tesmarmath(2.5)] if entry.method else []
    call = partial(function, *receiver, *arguments)
    del arguments, receiver
    assert outcome(call) == usual


@pytest.mark.parametrize("limit", [3000, 10_000, 100_000])
@pytest.mark.parametrize("route", DEEP)
def test_deep_reentry_raises_recursion_error(route, limit):
    assert run("deep re-entry", route, str(limit)) == ["RecursionError"]


@pytest.mark.parametrize("view", ["array", "memoryview"])
def test_a_handler_moving_the_memory_being_read_ends_the_fold(view):
    assert run("resized buffer", view) == [
        "BufferError: the buffer's memory changed while it was being read",
        "4.0",
    ]


def test_no_conversion_runs_after_a_handler_raised():
    assert run("conversion after a raising handler") == ["LookupError: now 0"]
