"""Every callable of the module with its parameters and their kinds, read
from the shipped stub (test_surface.py holds the stub to the runtime), and
per parameter kind the arguments it accepts, by every route, and refuses.
The cross-cutting tests (binding, conversion, leaks, allocation failure,
fuzzing, fast paths) all iterate over these tables."""

import array
import ast
import functools
import inspect
import itertools
import math
import mmap
import struct
import sys
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import tesmar_math as tm
from hypothesis import example
from hypothesis import strategies as st
from tesmar_math import Tesmarmath

STUB_PATH = Path(__file__).resolve().parents[1] / "stubs/tesmar_math-stubs/__init__.pyi"
STUB = ast.parse(STUB_PATH.read_text())
STUB_CLASS = next(
    node for node in STUB.body if isinstance(node, ast.ClassDef) and node.name == "Tesmarmath"
)
EMPTY = inspect.Parameter.empty
# The sanitizer run (PYTHONMALLOC=malloc) counts no blocks; it checks memory, so the value
# properties that run many times more examples than usual run the usual number there.
SANITIZER_RUN = sys.getallocatedblocks() == 0


def key(x):
    """A float by its bits, so -0.0 differs from 0.0; every NaN alike."""
    return "nan" if math.isnan(x) else struct.pack("<d", x)


def saturate(x, rounding=math.trunc):
    """The saturating conversion to a 64-bit int: NaN is 0, the range's
    ends stand for everything beyond them."""
    if math.isnan(x):
        return 0
    return max(
        -(2**63),
        min(2**63 - 1, rounding(x) if math.isfinite(x) else int(math.copysign(2.0**64, x))),
    )


def c_pow(x, y):
    """C's pow, which answers where math.pow raises."""
    try:
        return math.pow(x, y)
    except (OverflowError, ValueError):
        if x < 0 and not y.is_integer():
            return math.nan
        return math.copysign(math.inf, x) if y % 2 == 1 else math.inf


def examples(*cases):
    """Hypothesis examples, several to a line: the drawn arguments in order."""
    return lambda test: functools.reduce(
        lambda t, case: example(*case)(t) if type(case) is tuple else example(case)(t), cases, test
    )


class Boom(Exception):
    pass


def boom():
    raise Boom("boom")


class Real:
    """A number reached through __float__ alone; `effect` runs first."""

    def __init__(self, value, effect=None):
        self.value, self.effect = value, effect

    def give(self):
        if self.effect:
            self.effect()
        return self.value

    def __float__(self):
        return self.give()


class Index:
    """An integer reached through __index__ alone."""

    __init__, give = Real.__init__, Real.give

    def __index__(self):
        return self.give()


FloatSub, IntSub = (type(t.__name__.title() + "Sub", (t,), {}) for t in (float, int))
# These hold their items backwards and iterate them forwards: read by index, they would come reversed.
ListSub, TupleSub = (
    type(t.__name__.title() + "Sub", (t,), {"__iter__": lambda s: iter(s[::-1])})
    for t in (list, tuple)
)


class Seq:
    """A sequence by __getitem__ alone, whose __len__ is only a hint (or
    raises, when `length` is an exception class)."""

    def __init__(self, items, length=2**62):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, type):
            raise self.length("no length")
        return self.length

    def __getitem__(self, i):
        return self.items[i]


class FailingIter(Seq):
    def __iter__(self):  # the first item, then a failure
        return itertools.chain(self.items[:1], map(lambda _: boom(), [0]))


def real_forms(v):
    """The float v by each route that converts to it."""
    forms = [v, FloatSub(v), Real(v)]
    if math.isfinite(v) and v.is_integer() and key(v) != key(-0.0):
        forms += [int(v), IntSub(int(v)), Index(int(v))]
    return forms


def int_forms(n):
    return [n, IntSub(n), Index(n)] + [True] * (n == 1)


def list_forms(items, item_forms, code):
    """The list by every route: sequences, mixed item forms, and arrays of
    the typecode, contiguous or strided, read from their memory."""
    mixed = [item_forms(v)[i % len(item_forms(v))] for i, v in enumerate(items)]
    backwards = items[::-1]
    return [
        list(items),
        tuple(items),
        ListSub(backwards),
        TupleSub(backwards),
        mixed,
        tuple(mixed),
        Seq(items),
        Seq(items, 0),
        Seq(items, ValueError),
        array.array(code, items),
        memoryview(array.array(code, items)),
        np.repeat(np.array(items, dtype=code), 2)[::2],
        np.array(backwards, dtype=code)[::-1],
    ]


@dataclass(frozen=True, eq=False)
class Kind:
    sample: object  # converts; larger ints than 256 are objects of their own
    values: st.SearchStrategy  # exact values: floats, ints and lists of them
    forms: object  # value -> the same value by every accepted route
    refused: tuple  # (argument, exception, message before the parameter prefix)


# Ints around the 30-bit digits of CPython's ints, read inline or not.
EDGES = [s * (2**b + d) for b in (30, 60, 62) for d in (-1, 0, 1) for s in (1, -1)] + [
    2**63 - 1,
    -(2**63),
]
FLOATS = st.floats() | st.sampled_from([0.0, -0.0, 0.5, 2.5, 1e300, *map(float, EDGES)])
INTS = st.integers(-3, 24) | st.sampled_from(EDGES)


NOT_SEQUENCE, NOT_REAL = (
    "'{}' object cannot be converted to 'Sequence'",
    "must be real number, not {}",
)
NOT_INT, TOO_BIG = "'{}' object cannot be interpreted as an integer", "int too big to convert"
TOO_LARGE = "int too large to convert to float"
BYTE_MAP = mmap.mmap(
    -1, 1
)  # a sequence of bytes objects over a buffer of numbers: read by iteration
FAILS = (Index(1, boom), Boom, "boom")  # an error of the caller's own passes as it is
REFUSED_LISTS = (
    ("12", TypeError, "Can't extract `str` to `Vec`"),
    ({1.0}, TypeError, NOT_SEQUENCE.format("set")),
    ({1: 2}, TypeError, NOT_SEQUENCE.format("dict")),
    (FailingIter([4]), Boom, "boom"),
    (iter([1.0]), TypeError, NOT_SEQUENCE.format("list_iterator")),
)
REAL = Kind(
    1.5,
    FLOATS,
    real_forms,
    (
        ("x", TypeError, NOT_REAL.format("str")),
        (10**400, OverflowError, TOO_LARGE),
        (None, TypeError, NOT_REAL.format("NoneType")),
        FAILS,
    ),
)
INT = Kind(
    3,
    INTS,
    int_forms,
    (
        (2.5, TypeError, NOT_INT.format("float")),
        ("3", TypeError, NOT_INT.format("str")),
        (2**63, OverflowError, TOO_BIG),
        (-(2**63) - 1, OverflowError, TOO_BIG),
        FAILS,
    ),
)
COUNT = Kind(
    5,
    st.integers(0, 40) | st.sampled_from([2**30, 2**60, 2**64 - 1]),
    int_forms,
    (
        (2.0, TypeError, NOT_INT.format("float")),
        (None, TypeError, NOT_INT.format("NoneType")),
        (-1, OverflowError, "can't convert negative int to unsigned"),
        (2**64, OverflowError, TOO_BIG),
        FAILS,
    ),
)
NUMBERS = Kind(
    [3.0, 1.5, 2.0],
    st.lists(FLOATS, max_size=5),
    lambda items: list_forms(items, real_forms, "d"),
    REFUSED_LISTS
    + (
        ([1.0, "x"], TypeError, NOT_REAL.format("str")),
        ([1.0, Real(1.0, boom)], Boom, "boom"),
        ([1.0, 10**400], OverflowError, TOO_LARGE),
        (BYTE_MAP, TypeError, NOT_REAL.format("bytes")),
    ),
)
INTEGERS = Kind(
    [1200, 1800, -800],
    st.lists(INTS, max_size=5),
    lambda items: list_forms(items, int_forms, "q"),
    REFUSED_LISTS
    + (
        ([7, 2.0], TypeError, NOT_INT.format("float")),
        ([1, Index(1, boom)], Boom, "boom"),
        ([1, 2**63], OverflowError, TOO_BIG),
        (BYTE_MAP, TypeError, NOT_INT.format("bytes")),
        (array.array("d", [7.0]), TypeError, NOT_INT.format("float")),
    ),
)
ANNOTATIONS = {
    "SupportsFloat | SupportsIndex": REAL,
    "SupportsIndex": INT,
    "_Numbers": NUMBERS,
    "_Integers": INTEGERS,
}


@dataclass(frozen=True)
class Entry:
    name: str
    method: bool  # an instance method; the constructor is not one
    params: tuple  # (name, kind, default or EMPTY)
    returns: str
    doc: str | None

    @property
    def call_name(self):
        return (
            f"Tesmarmath.{self.name}()"
            if self.method or self.name == "__new__"
            else f"{self.name}()"
        )

    @property
    def reads(self):  # shared access: the stored number is only read
        return self.method and self.name in (
            "get_number",
            "is_positive",
            "is_negative",
            "is_even",
            "is_odd",
        )

    def on(self, receiver):
        """The callable itself, a method bound to the receiver."""
        if self.name == "__new__":
            return Tesmarmath
        return getattr(receiver if self.method else tm, self.name)

    def sample(self):
        return tuple([kind.sample for _, kind, _ in self.params])

    def __repr__(self):
        return self.call_name


def read_stub(node, method):
    args = node.args.args[1:] if method or node.name == "__new__" else node.args.args
    defaults = [EMPTY] * (len(args) - len(node.args.defaults)) + [
        ast.literal_eval(d) for d in node.args.defaults
    ]
    params = tuple(
        (a.arg, COUNT if default is not EMPTY else ANNOTATIONS[ast.unparse(a.annotation)], default)
        for a, default in zip(args, defaults)
    )
    return Entry(
        node.name,
        method and node.name != "__new__",
        params,
        ast.unparse(node.returns),
        ast.get_docstring(node),
    )


FUNCTIONS = [read_stub(n, False) for n in STUB.body if isinstance(n, ast.FunctionDef)]
METHODS = [read_stub(n, True) for n in STUB_CLASS.body if isinstance(n, ast.FunctionDef)]
CONSTRUCTOR = METHODS.pop(0)
EVERY = FUNCTIONS + METHODS + [CONSTRUCTOR]
BY_NAME = {repr(e): e for e in EVERY}


def paths(entry):
    """(label, call, arguments) for every path of one callable."""
    sample, names = entry.sample(), [n for n, _, _ in entry.params]
    call = lambda *a, **k: entry.on(Tesmarmath(2.5))(*a, **k)  # noqa: E731
    yield "ok", call, sample
    yield "too many", lambda: call(*sample, 1.0, 1.0), sample
    yield "bogus keyword", lambda: call(*sample, bogus=1.0), sample
    if names:
        yield "missing", call, ()
        yield "twice", lambda: call(*sample, **{names[0]: sample[0]}), sample
    for i, (name, kind, _) in enumerate(entry.params):
        for j, value in enumerate([*(v for v, _, _ in kind.refused), *kind.forms(kind.sample)]):
            args = (*sample[:i], value, *sample[i + 1 :])
            yield f"{name} {j}", lambda args=args: call(*args), args
    if entry.method:

        def reenter():
            try:
                getattr(t, entry.name)(*sample)
            except RuntimeError:
                return
            raise AssertionError("the receiver was not held")

        t = Tesmarmath(2.5)
        yield "held", lambda: t.mult_of([Real(1.0, reenter)]), ()


OPERATION_ERRORS = {  # the operations' own failures, and their longest paths
    "text form": [
        lambda: [
            f(Tesmarmath(x)) for f in (repr, str) for x in (0.1, -0.0, math.nan, 1e300, 5e-324)
        ]
    ],
    "division": [
        lambda: tm.div_of([1.0, -0.0]),
        lambda: Tesmarmath(1.0).div_of([0.0]),
        lambda: tm.int_div_of([1, 0]),
        lambda: Tesmarmath(1.0).int_div_of([0]),
        lambda: tm.int_div_of([-(2**63), -1]),
        lambda: Tesmarmath(-1e300).int_div_of([-1]),
    ],
    "roots and factorials": [
        lambda: tm.square_root(-1.0),
        lambda: Tesmarmath(-1.0).square_root(),
        lambda: tm.factorial(-1),
        lambda: tm.factorial(21),
        lambda: Tesmarmath(-1.0).factorial(),
        lambda: Tesmarmath(34.0).factorial(),
    ],
    "towers": [
        lambda: tm.tetration(2.0, -1),
        lambda: tm.tetration(2.0, 5),
        lambda: Tesmarmath(2.0).tetration(-1),
        lambda: Tesmarmath(2.0).tetration(5),
        lambda: tm.tetration(0.5, 2**63 - 1),
        lambda: Tesmarmath(0.01).tetration(2**62),
    ],
    "gcd": [
        lambda: tm.gcd_with_int([]),
        lambda: tm.gcd_with_float(()),
        lambda: Tesmarmath(1.0).gcd_with_int([]),
        lambda: Tesmarmath(1.0).gcd_with_float([]),
    ],
    "series": [
        lambda: tm.tan(math.pi / 2),
        lambda: tm.tan(1.0, 0),
        lambda: Tesmarmath(math.pi / 2).tan(),
        lambda: tm.cos(math.nan, 2**64 - 1),
        lambda: Tesmarmath(3e19).sin(2**64 - 1),
    ],
}
# Every path of every callable, by its owner: what the leak sweep and the
# allocation failures run.
PATHS = {repr(e): list(paths(e)) for e in EVERY} | {
    k: [(f"{k} {i}", call, ()) for i, call in enumerate(calls)]
    for k, calls in OPERATION_ERRORS.items()
}


def outcome(call, *args, **kwargs):
    """What a call gives, comparable across routes: the result's type and
    value (a float by its bits, a Tesmarmath by its stored number's), or the
    exception's type and arguments."""
    try:
        result = call(*args, **kwargs)
    except Exception as error:  # noqa: BLE001
        return type(error), error.args
    if isinstance(result, Tesmarmath):
        return Tesmarmath, key(result.get_number())
    return type(result), key(result) if isinstance(result, float) else result
