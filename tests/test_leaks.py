"""The leak sweep: every path of every callable (registry.PATHS): success by every accepted
route, each binding and conversion error, calls back into a held receiver, and every
operation's own errors. Repeated calls must not grow the interpreter's blocks or the native
heap (C++ allocations show only there), nor change the reference counts of the arguments and
their items."""

import ctypes
import sys
from contextlib import suppress

import pytest
from registry import PATHS, SANITIZER_RUN, within

ROUNDS = 400


def repeat(call, rounds):
    for _ in range(rounds):
        with suppress(Exception):  # error paths are swept too
            call()


class MallInfo2(ctypes.Structure):  # glibc's struct mallinfo2
    FIELDS = "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost"
    _fields_ = [(name, ctypes.c_size_t) for name in FIELDS.split()]


mallinfo2 = ctypes.CFUNCTYPE(MallInfo2)(("mallinfo2", ctypes.CDLL(None)))


def native_heap():
    return (info := mallinfo2()).uordblks + info.hblkhd


def growth(call, measure):
    repeat(call, ROUNDS // 4)  # warm caches and free lists
    before = measure()
    repeat(call, ROUNDS)
    return measure() - before


@pytest.mark.parametrize("owner", PATHS)
def test_no_leak(owner):
    for label, call, arguments in PATHS[owner]:
        if SANITIZER_RUN:  # no counts, just the paths
            repeat(call, 3)
            continue
        objects = list(within(arguments))
        counts = [sys.getrefcount(o) for o in objects]
        assert growth(call, sys.getallocatedblocks) < ROUNDS // 10, label
        native = growth(call, native_heap)
        assert native < ROUNDS * 4, f"{label}: the native heap grew by {native} bytes"
        assert [sys.getrefcount(o) for o in objects] == counts, f"{label}: a reference was kept"
