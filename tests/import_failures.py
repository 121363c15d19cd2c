"""Runs the module's entry point with one allocation failing, for every allocation of the module's
own body; run by test_allocation_failure.py in an interpreter of its own, since a built module is
kept for the process. Each copy of the library has a state of its own. Prints each failure's
exception ("Type: message", with its cause's type after " <- "), then the names of the module
that a last, unhindered entry call builds."""

import _testcapi
import ctypes
import importlib.util
import itertools
import shutil
import tempfile
from pathlib import Path

LIBRARY = Path(importlib.util.find_spec("tesmar_math").origin)
COPIES = Path(tempfile.mkdtemp())


def fresh_entry(label):
    copy = COPIES / f"{label}.so"
    shutil.copy(LIBRARY, copy)
    return ctypes.PYFUNCTYPE(ctypes.py_object)(("PyInit_tesmar_math", ctypes.PyDLL(str(copy))))


# The module, or the text of the exception that allocation n failing raised.
def attempt(entry, n):
    _testcapi.set_nomemory(n, n + 1)
    try:
        return entry()
    except BaseException as error:  # noqa: BLE001 - PanicException too
        cause = f" <- {type(error.__cause__).__name__}" if error.__cause__ else ""
        return f"{type(error).__name__}: {error}{cause}"
    finally:
        _testcapi.remove_mem_hooks()


def failures(entry, ns):
    for n in ns:
        outcome = attempt(entry, n)
        if not isinstance(outcome, str):
            return
        print(outcome)
        yield outcome


# Until the class fails to be made: CPython 3.13.0 itself can crash later in the class's making
# (a failed dict resize), so the rest of the body runs with a class kept from a failed import.
for outcome in failures(fresh_entry("first"), itertools.count()):
    if outcome.startswith("RuntimeError"):
        break
# An allocation near the end of a first import, found from above with fresh copies, fails after
# the class is made; its copy keeps the class for every failure from the start.
for n in range(1024, 0, -8):
    entry = fresh_entry(n)
    if isinstance(attempt(entry, n), str):
        break
for _ in failures(entry, itertools.count()):
    pass
module = entry()
print(*module.__all__, sep=",")
shutil.rmtree(COPIES)
