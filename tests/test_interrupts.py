"""Long list work stops for a signal whose handler raises, leaving the receiver and the module as
they were; a handler meets the held instance's borrow flag; one clearing the list corrupts nothing.
Each case runs in a process of its own (own_process.py)."""

import pytest
from own_process import ENDLESS, run

BORROWED = ["RuntimeError: Already mutably borrowed", "RuntimeError: Already borrowed"]
HANDLERS = [  # (the handler, the surface it interrupts, what the call ends with, what it met)
    ("ctrl-c", "function", "KeyboardInterrupt: ", []),
    ("exception", "method", "LookupError: now", []),
    ("re-entry", "method", BORROWED[1], BORROWED),
]


@pytest.mark.parametrize("endless", ENDLESS)
@pytest.mark.parametrize(
    ("handler", "surface", "ends_with", "met"), HANDLERS, ids=[row[0] for row in HANDLERS]
)
def test_a_raising_handler_ends_a_long_call(endless, handler, surface, ends_with, met):
    lines = run("long call", handler, endless, surface)
    assert lines == [ends_with, f"{met} 0x1.4000000000000p+1 3.0 6.25"]


# Exact ints and floats are folded where they lie, polling on the way: a handler that clears the
# list cuts the fold short.
@pytest.mark.parametrize("source", ["ints", "floats"])
def test_a_handler_clearing_the_list_leaves_the_fold_of_a_prefix(source):
    assert run("clearing", source) == ["True"]
