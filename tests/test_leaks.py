"""The leak sweep: every callable on its success path and on each of its
error paths, thousands of calls each, with the interpreter's allocated blocks,
the native heap (C++ allocations are invisible to the former) and the
reference counts of the arguments and their items stable."""

import ctypes
import math
import sys

import pytest

import tesmar_math as tm
from tesmar_math import Tesmarmath


class Boom(Exception):
    pass


class Raises:
    def __float__(self):
        raise Boom

    __index__ = __float__


class Protocol:
    """A number reached through __float__ or __index__, not a float or int;
    both hand back the one object they hold, so a reference the module kept
    shows in its count."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    __index__ = __float__


class ListSub(list):  # read through its iterator, not by index
    pass


class FailingIter:
    """A sequence whose iteration fails: passed on, not wrapped."""

    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise Boom


# Valid arguments for each callable; the parameter kinds say how to spoil
# them. Integers above 256 are objects of their own, not shared immortal ones.
FUNCTIONS = {
    **{n: ([3.0, 1.5, 2.0],) for n in ("sum_of", "dif_of", "div_of", "mult_of", "lcm_with", "gcd_with_float")},
    **{n: ([1200, 1800, -800],) for n in ("int_div_of", "gcd_with_int")},
    **{n: (2.5,) for n in ("square", "cube", "square_root", "cube_root", "floor", "ceil", "sign",
                           "is_positive", "is_negative", "is_integer")},
    "power": (2.0, 0.5), "factorial": (5,), "is_even": (400,), "is_odd": (301,),
    **{n: (1.0, 300) for n in ("cos", "sin", "tan")}, "tetration": (1.5, 3),
}
METHODS = {
    "get_number": (),
    **{n: ([3.0, 1.5],) for n in ("sum_of", "dif_of", "div_of", "mult_of", "lcm_with", "gcd_with_float")},
    **{n: ([1200, -700],) for n in ("int_div_of", "gcd_with_int")},
    **{n: () for n in ("square", "cube", "power_of_2", "square_root", "cube_root", "factorial",
                       "floor", "ceil", "sign", "is_positive", "is_negative", "is_even", "is_odd")},
    "power": (0.5,), **{n: (300,) for n in ("cos", "sin", "tan")}, "tetration": (2,),
}
assert len(FUNCTIONS) == 26 and len(METHODS) == 27


def first_param(name, valid, method):
    if valid and isinstance(valid[0], list):
        return "args"
    if method:
        return {"power": "exponent", "tetration": "height"}.get(name, "terms")
    return "base" if name == "tetration" else "number"


# Spoiled values per argument: a refused type (wrapped TypeError), an error
# passed on unchanged, and for lists the refusals of the list itself.
SPOILED_LIST = {"str": "12", "non-sequence": {1.0}, "item": [1.0, "x"], "item-raises": [1.0, Raises()],
                "iter-raises": FailingIter()}
SPOILED_NUMBER = {"str": "x", "raises": Raises(), "overflow": 10**400}
SPOILED_INT = {"float": 2.5, "raises": Raises(), "overflow": 2**64}


def spoiled(value):
    if isinstance(value, list):
        return SPOILED_LIST
    return SPOILED_INT if isinstance(value, int) else SPOILED_NUMBER


def other_forms(value):
    """The same valid value by the other conversion routes."""
    if isinstance(value, list):
        return {"tuple": tuple(value), "iterated": ListSub(value), "iterated-raises": ListSub([*value, Raises()])}
    return {"protocol": Protocol(value)}


def generic_paths(owner, fn, valid, first_param):
    """Success, every binding error and every conversion error of one callable."""
    yield owner, "ok", lambda: fn(*valid), valid
    yield owner, "too-many", lambda: fn(*valid, *valid, 1.0), valid
    yield owner, "bad-keyword", lambda: fn(*valid, bogus=1), valid
    if valid:
        yield owner, "missing", lambda: fn(), ()
        yield owner, "twice", lambda: fn(*valid, **{first_param: valid[0]}), valid
    for i, value in enumerate(valid):
        for kind, bad in (spoiled(value) | other_forms(value)).items():
            args = valid[:i] + (bad,) + valid[i + 1:]
            yield owner, f"arg{i}-{kind}", lambda args=args: fn(*args), args


def conflict(name, valid):
    """The method called back from inside another method on the same
    instance: its receiver access is refused."""
    t = Tesmarmath(2.0)

    class Calls:
        def __float__(self):
            try:
                getattr(t, name)(*valid)
            except RuntimeError:
                return 1.0
            raise AssertionError("the receiver was not held")

    return lambda: t.mult_of([Calls()])


def on_fresh_instance(name):
    return lambda *args, **kwargs: getattr(Tesmarmath(2.5), name)(*args, **kwargs)


def all_paths():
    for name, valid in FUNCTIONS.items():
        yield from generic_paths(name, getattr(tm, name), valid, first_param(name, valid, False))
    for name, valid in METHODS.items():
        yield from generic_paths(f"method-{name}", on_fresh_instance(name), valid,
                                 first_param(name, valid, True))
        yield f"method-{name}", "conflict", conflict(name, valid), valid
    for name, show in (("repr", repr), ("str", str)):
        yield name, "ok", lambda show=show: [show(Tesmarmath(x)) for x in (0.1, -0.0, math.nan, 1e300, 5e-324)], ()
        yield name, "conflict", conflict(f"__{name}__", ()), ()
    yield from generic_paths("constructor", Tesmarmath, (2.5,), "number")
    yield "constructor", "keyword", lambda: Tesmarmath(number=2.5), ()


OPERATION_ERRORS = {  # owner-path: call
    "div_of-zero": lambda: tm.div_of([1.0, -0.0]),
    "method-div_of-zero": lambda: Tesmarmath(1.0).div_of([0.0]),
    "int_div_of-zero": lambda: tm.int_div_of([1, 0]),
    "method-int_div_of-zero": lambda: Tesmarmath(1.0).int_div_of([0]),
    "int_div_of-wide": lambda: tm.int_div_of([-2**63, -1]),
    "square_root-negative": lambda: tm.square_root(-1.0),
    "method-square_root-negative": lambda: Tesmarmath(-1.0).square_root(),
    "factorial-negative": lambda: tm.factorial(-1),
    "factorial-overflow": lambda: tm.factorial(21),
    "method-factorial-negative": lambda: Tesmarmath(-1.0).factorial(),
    "method-factorial-overflow": lambda: Tesmarmath(34.0).factorial(),
    "tetration-negative": lambda: tm.tetration(2.0, -1),
    "tetration-infinity": lambda: tm.tetration(2.0, 5),
    "method-tetration-negative": lambda: Tesmarmath(2.0).tetration(-1),
    "method-tetration-infinity": lambda: Tesmarmath(2.0).tetration(5),
    "gcd_with_int-empty": lambda: tm.gcd_with_int([]),
    "gcd_with_float-empty": lambda: tm.gcd_with_float(()),
    "method-gcd_with_int-empty": lambda: Tesmarmath(1.0).gcd_with_int([]),
    "method-gcd_with_float-empty": lambda: Tesmarmath(1.0).gcd_with_float([]),
    "gcd_with_float-unsigned": lambda: tm.gcd_with_float([-math.inf]),
    "tan-pole": lambda: tm.tan(math.pi / 2),
    "tan-no-terms": lambda: tm.tan(1.0, 0),
    "method-tan-pole": lambda: Tesmarmath(math.pi / 2).tan(),
    "cos-terms-negative": lambda: tm.cos(1.0, -1),
    "method-cos-terms-huge": lambda: Tesmarmath(math.nan).cos(2**64 - 1),
}

CASES = {f"{owner}-{path}": (call, watched) for owner, path, call, watched in all_paths()} | {
    label: (call, ()) for label, call in OPERATION_ERRORS.items()}

class MallInfo2(ctypes.Structure):  # glibc's struct mallinfo2
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                 "fordblks", "keepcost")]


try:
    _mallinfo2 = ctypes.CDLL(None).mallinfo2
    _mallinfo2.restype = MallInfo2
except (OSError, AttributeError):  # not glibc
    _mallinfo2 = None


def native_heap_in_use():
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


def test_the_sweep_covers_every_callable():
    owners = {owner for owner, *_ in all_paths()}
    assert owners == {*FUNCTIONS, *(f"method-{n}" for n in METHODS), "constructor", "repr", "str"}
    assert len(CASES) > 400


def repeat(call, rounds):
    for _ in range(rounds):
        try:
            call()
        except BaseException:  # noqa: BLE001 - error paths are swept too
            pass


@pytest.mark.parametrize("label", CASES)
def test_no_leak(label, no_leak):
    call, arguments = CASES[label]
    watched = [*arguments, *(item for a in arguments if isinstance(a, (list, tuple)) for item in a),
               *(a.value for a in arguments if isinstance(a, Protocol))]
    counts = [sys.getrefcount(o) for o in watched]
    no_leak(call)
    assert [sys.getrefcount(o) for o in watched] == counts, "a reference to an argument was kept or lost"
    if _mallinfo2 is None or sys.getallocatedblocks() == 0:
        return  # no native count, or every object lives on the native heap
    rounds = 1000
    repeat(call, rounds)
    before = native_heap_in_use()
    repeat(call, rounds)
    grown = native_heap_in_use() - before
    assert grown < rounds * 4, f"the native heap grew by {grown} bytes over {rounds} calls"
