"""Allocation failure: one allocation at a time is made to fail inside each
call. A failed result surfaces as PanicException "Python API call failed",
a failure the module passes on (in an argument conversion, in the
constructor) as MemoryError; the receiver holds its old or its new number,
its flag is free, and the interpreter carries on."""

import gc
import math
import struct

import pytest

import tesmar_math as tm
from tesmar_math import Tesmarmath

_testcapi = pytest.importorskip("_testcapi")
pytestmark = pytest.mark.no_sanitizer  # the hooks fight with ASan's allocator

STARTS = range(10)  # the n-th allocation of the call fails, one per attempt


def bits(x):
    return struct.pack("<d", x)


def with_one_failure(call, start):
    """Runs call() with only allocation number start + 1 failing."""
    floats = [i + 0.5 for i in range(300)]  # empty the float free list: results must allocate
    _testcapi.set_nomemory(start, start + 1)
    try:
        return call()
    except BaseException as error:  # noqa: BLE001
        return error
    finally:
        _testcapi.remove_mem_hooks()
        del floats


def is_panic(outcome):
    return type(outcome).__name__ == "PanicException" and outcome.args == ("Python API call failed",)


def same(outcome, expected):
    if type(outcome) is not type(expected):
        return False
    if isinstance(expected, BaseException):
        # Naming the type of a refused argument may itself fail: the
        # message then carries the documented stand-in for the name.
        return outcome.args == expected.args or str(outcome) == "argument 'args': " \
            "'<failed to extract type name>' object cannot be converted to 'Sequence'"
    if isinstance(expected, Tesmarmath):
        outcome, expected = outcome.get_number(), expected.get_number()
    return outcome == expected or (isinstance(expected, float) and math.isnan(expected) and math.isnan(outcome))


def kind(outcome, expected):
    """How one call under a failing allocation ended; anything but its usual
    outcome, MemoryError or PanicException fails the test."""
    if is_panic(outcome):
        return "panic"
    if type(outcome) is MemoryError:
        return "memory"
    if isinstance(expected, BaseException) and type(outcome) is SystemError and \
            outcome.args == ("error return without exception set",):
        # The interpreter's own, while it unwinds: a plain Python raise under
        # the same failing allocation ends the same way.
        return "interpreter"
    assert same(outcome, expected), outcome
    return "as usual"


def plain(call):
    try:
        return call()
    except BaseException as error:  # noqa: BLE001
        return error


# (call, result allocates): 10! and 600 lie outside the small-int cache.
FUNCTIONS = {
    "sum_of": ([1.5, 2.0],), "dif_of": ([1.5, 2.0],), "div_of": ([1.5, 2.0],), "mult_of": ([1.5, 3.0],),
    "int_div_of": ([7000, 2],), "gcd_with_int": ([1200, 1800],), "gcd_with_float": ([1200.0, 1800.0],),
    "lcm_with": ([4.0, 6.0],), "square": (1.5,), "cube": (1.5,), "power": (2.0, 0.5),
    "square_root": (2.0,), "cube_root": (3.0,), "factorial": (10,), "floor": (1e6,), "ceil": (1e6,),
    "sign": (-2.0,), "is_positive": (1.0,), "is_negative": (1.0,), "is_integer": (1.0,),
    "is_even": (4,), "is_odd": (4,), "cos": (1.0,), "sin": (1.0,), "tan": (1.0,), "tetration": (1.5, 3),
}
NO_ALLOCATION = {"sign", "is_positive", "is_negative", "is_integer", "is_even", "is_odd"}
METHODS = {
    "get_number": (), "sum_of": ([1.5],), "dif_of": ([1.5],), "div_of": ([2.0],), "int_div_of": ([2],),
    "mult_of": ([3.0],), "square": (), "cube": (), "power": (0.5,), "power_of_2": (), "square_root": (),
    "cube_root": (), "factorial": (), "gcd_with_int": ([1200, 1800],), "gcd_with_float": ([1200.0, 1800.0],),
    "lcm_with": ([4.0, 6.0],), "floor": (), "ceil": (), "sign": (), "is_positive": (), "is_negative": (),
    "is_even": (), "is_odd": (), "cos": (), "sin": (), "tan": (), "tetration": (2,),
}
BOOLS = {"is_positive", "is_negative", "is_even", "is_odd"}
ERRORS = [  # error paths: the failing allocation may hit the exception's message
    lambda: tm.div_of([1.0, 0.0]), lambda: tm.square_root(-1.0), lambda: tm.square("x"),
    lambda: tm.square(), lambda: tm.square(1.0, bogus=2), lambda: tm.sum_of({1.0}),
    lambda: tm.gcd_with_int([]), lambda: tm.tan(1.0, 0), lambda: tm.factorial(2**64),
    lambda: Tesmarmath(-1.0).factorial(), lambda: Tesmarmath(2.0).tetration(-1),
]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_module_functions(name):
    args = FUNCTIONS[name]
    call = lambda: getattr(tm, name)(*args)  # noqa: E731
    expected = plain(call)
    seen = {kind(with_one_failure(call, start), expected) for start in STARTS}
    if name not in NO_ALLOCATION:
        assert "panic" in seen  # the result object itself could not be made
    assert kind(call(), expected) == "as usual"


@pytest.mark.parametrize("name", METHODS)
def test_methods(name):
    args, start_value = METHODS[name], 3.5 if name != "factorial" else 12.0
    expected = plain(lambda: getattr(Tesmarmath(start_value), name)(*args))
    after = Tesmarmath(start_value)
    plain(lambda: getattr(after, name)(*args))
    seen = set()
    for start in STARTS:
        t = Tesmarmath(start_value)
        outcome = with_one_failure(lambda: getattr(t, name)(*args), start)
        seen.add(kind(outcome, expected))
        # The number is stored before the result is made: old or new, never else.
        assert bits(t.get_number()) in (bits(start_value), bits(after.get_number()))
        assert bits(t.mult_of([]).get_number()) == bits(t.get_number())  # the flag is free
    if name not in BOOLS:
        assert "panic" in seen  # the result object itself could not be made


@pytest.mark.parametrize("call", ERRORS)
def test_error_paths(call):
    expected = plain(call)
    assert isinstance(expected, Exception)
    for start in STARTS:
        kind(with_one_failure(call, start), expected)


@pytest.mark.parametrize("sequence, iterated", [
    (range(1, 4), True), (type("Seq", (list,), {})([1, 2]), True), (b"\x01\x02", True),
    ([1, 2], False), ((1, 2), False),
])
def test_list_conversion(sequence, iterated):
    seen = set()
    for call in (lambda: tm.sum_of(sequence), lambda: tm.gcd_with_int(sequence),
                 lambda: Tesmarmath(1.0).mult_of(sequence)):
        expected = plain(call)
        seen |= {kind(with_one_failure(call, start), expected) for start in STARTS}
    if iterated:  # the iterator could not be made: CPython's MemoryError, passed on
        assert "memory" in seen


def test_constructor_and_text():
    call = lambda: Tesmarmath(2.5)  # noqa: E731
    outcomes = [with_one_failure(call, start) for start in STARTS]
    assert any(type(o) is MemoryError for o in outcomes)  # tp_alloc's own error is passed on
    assert all(type(o) is MemoryError or o.get_number() == 2.5 for o in outcomes)
    t = Tesmarmath(0.1)
    for show, text in ((repr, "Tesmarmath(0.1)"), (str, "0.1")):
        outcomes = [with_one_failure(lambda: show(t), start) for start in STARTS]
        assert any(is_panic(o) for o in outcomes)
        assert all(is_panic(o) or o == text for o in outcomes)
    assert repr(t) == "Tesmarmath(0.1)"


def test_the_interpreter_carries_on():
    for start in STARTS:
        with_one_failure(lambda: Tesmarmath(2.0).cube().sum_of([1.0, 2.0]), start)
    gc.collect()
    assert Tesmarmath(2.0).cube().sum_of([1.0, 2.0]).get_number() == 11.0
    assert tm.cos(0.0) == 1.0 and tm.sum_of(range(4)) == 6.0
