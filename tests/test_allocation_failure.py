"""Allocation failure, one allocation at a time, on every path of every callable: a result
that cannot be made surfaces as PanicException "Python API call failed", a failure the module
passes on (in a conversion, in the constructor) as MemoryError; a receiver holds its old or its
new number and ends free; the interpreter carries on."""

import subprocess
import sys
from functools import partial
from pathlib import Path

import pytest
import tesmar_math as tm
from registry import METHODS, PATHS, FloatSub, IntSub, Real, key, outcome, raising, within
from tesmar_math import Tesmarmath

pytestmark = pytest.mark.no_sanitizer  # the hooks fight with ASan's allocator
STARTS = range(10)  # the call's n-th allocation fails, one per attempt


@pytest.fixture(scope="module")
def capi():
    try:
        import _testcapi
    except ImportError:
        pytest.fail("this interpreter lacks _testcapi: allocation failure cannot be tested")
    return _testcapi


# The call's outcome with only its allocation number start + 1 failing.
def failing(capi, call, start):
    floats, result, caught = [i + 0.5 for i in range(300)], None, None  # results must allocate
    capi.set_nomemory(start, start + 1)
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - PanicException too
        caught = error
    finally:
        capi.remove_mem_hooks()
    del floats
    if caught is None:
        return outcome(lambda: result)
    # The interpreter's last-resort MemoryError is one object: its traceback would grow.
    caught.__traceback__ = caught.__context__ = None
    return type(caught), caught.args


def ending(got, usual, panic):
    if got == (panic, ("Python API call failed",)):
        return "panic"
    if got[0] in (MemoryError, SystemError):  # SystemError: the interpreter's own, out of memory
        return "memory"
    assert got == usual or "<failed to extract type name>" in str(got[1]), got
    return "as usual"


# PanicException's class, made to appear by a failed result allocation.
@pytest.fixture(scope="module")
def panic(capi):
    return failing(capi, Tesmarmath(3.0).square, 0)[0]


# Looks into lists and tuples; Real and Index run Python code themselves.
def runs_no_python_code(arguments):
    kinds = {type(a) for a in within(arguments)}
    return all(k.__module__ == "builtins" or k in (FloatSub, IntSub) for k in kinds)


# The paths that run no Python code: the interpreter's own (3.13.0) can crash when making a function
# or generator fails.
@pytest.mark.parametrize("owner", PATHS)
def test_every_path_ends_as_usual_or_in_a_documented_failure(capi, panic, owner):
    for label, call, _ in [path for path in PATHS[owner] if runs_no_python_code(path[2])]:
        usual = outcome(call)
        endings = {ending(failing(capi, call, start), usual, panic) for start in STARTS}
        if label == "ok" and usual[0] in (float, Tesmarmath):  # the result itself could not be made
            assert ("memory" if owner == "Tesmarmath.__new__()" else "panic") in endings


@pytest.mark.parametrize("entry", METHODS, ids=repr)
def test_a_receiver_keeps_its_old_or_new_number_and_ends_free(capi, panic, entry):
    args, after = entry.sample(), Tesmarmath(3.5)
    usual = outcome(getattr(after, entry.name), *args)
    for start in STARTS:
        t = Tesmarmath(3.5)
        ending(failing(capi, partial(getattr(t, entry.name), *args), start), usual, panic)
        # The new number is stored before the result is made.
        assert key(t.get_number()) in (key(3.5), key(after.get_number()))
        assert key(t.mult_of([]).get_number()) == key(t.get_number())


def test_panic_exception_is_a_base_exception(panic):
    assert (panic.__module__, panic.__name__) == ("vorn_runtime", "PanicException")
    assert panic.__bases__ == (BaseException,) and "BaseException" in panic.__doc__


def test_a_result_that_cannot_be_made_panics_and_says_so(capi, panic, capfd):
    assert failing(capi, Tesmarmath(2.0).cube, 0) == (panic, ("Python API call failed",))
    assert "tesmar_math: internal failure" in capfd.readouterr().err
    assert Tesmarmath(1.0).sum_of([Real(2.0)]).get_number() == 3.0


# A panic raised by a callback passes on as a panic with its message, not wrapped as a conversion
# error, and is reported once, whichever route converted it.
PANIC_ROUTES = {
    "function": tm.square,
    "class": Tesmarmath,
    "__new__ by keyword": lambda value: Tesmarmath.__new__(Tesmarmath, number=value),
}


@pytest.mark.parametrize("message", ["from a callback", "\udcff no UTF-8 form"])
@pytest.mark.parametrize("route", PANIC_ROUTES)
def test_a_panic_from_a_callback_passes_as_it_is(panic, capfd, route, message):
    with pytest.raises(panic) as caught:
        PANIC_ROUTES[route](Real(0.0, raising(panic, message)))
    assert caught.value.args == (message,)
    assert capfd.readouterr().err.count("A PanicException was raised by Python code") == 1


# The entry point with each allocation of the module's body failing in turn, in an interpreter of
# its own (tests/import_failures.py): MemoryError, the class's RuntimeError with the failure as
# its cause, or PanicException where a call the module counts on fails; then a whole module.
IMPORT_FAILURES = {
    "MemoryError: ",
    "PanicException: Python API call failed",
    "PanicException: could not append __name__ to __all__",
    "RuntimeError: An error occurred while initializing class Tesmarmath <- MemoryError",
}


def test_an_import_failing_for_memory_raises_and_the_next_builds_the_module():
    script = Path(__file__).with_name("import_failures.py")
    done = subprocess.run([sys.executable, script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-3000:]
    *failed, names = done.stdout.splitlines()
    assert set(failed) == IMPORT_FAILURES and names.split(",") == tm.__all__
