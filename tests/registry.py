"""Every callable and its parameters' kinds, read from the stub; per kind the arguments it
accepts, by every route, and refuses; every path of every callable. The cross-cutting tests
iterate over these tables, so a callable added to the stub is covered at once."""

import array
import ast
import inspect
import itertools
import math
import mmap
import re
import struct
import sys
from dataclasses import dataclass
from functools import partial
from pathlib import Path

import numpy as np
import tesmar_math as tm
from hypothesis import example
from hypothesis import strategies as st
from tesmar_math import Tesmarmath

STUB_PATH = Path(__file__).resolve().parents[1] / "stubs/tesmar_math-stubs/__init__.pyi"
STUB = ast.parse(STUB_PATH.read_text())
STUB_CLASS = next(n for n in STUB.body if isinstance(n, ast.ClassDef) and n.name == "Tesmarmath")
EMPTY = inspect.Parameter.empty
# The sanitizer run (PYTHONMALLOC=malloc) counts no blocks; it checks memory, so the value
# properties that run many times more examples than usual run the usual number there.
SANITIZER_RUN = sys.getallocatedblocks() == 0


# A float by its bits, so -0.0 differs from 0.0; every NaN alike.
def key(x):
    return "nan" if math.isnan(x) else struct.pack("<d", x)


# The double of the 64 bits.
def double(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# The saturating conversion to a 64-bit int: NaN is 0, the ends stand for all beyond.
def saturate(x, rounding=math.trunc):
    if math.isnan(x):
        return 0
    whole = rounding(x) if math.isfinite(x) else int(math.copysign(2.0**64, x))
    return max(-(2**63), min(2**63 - 1, whole))


# C's pow, which answers where math.pow raises.
def c_pow(x, y):
    try:
        return math.pow(x, y)
    except (OverflowError, ValueError):
        if x < 0 and not y.is_integer():
            return math.nan
        return math.copysign(math.inf, x) if y % 2 == 1 else math.inf


# Hypothesis examples, several to a line: a tuple is the drawn arguments in order.
def examples(*cases):
    def decorate(test):
        for case in cases:
            test = example(*case)(test) if type(case) is tuple else example(case)(test)
        return test

    return decorate


class Boom(Exception):
    """An error of the caller's own, raised where an argument converts."""


# An effect that raises a new error_type(message).
def raising(error_type, message):
    def effect():
        raise error_type(message)

    return effect


boom = raising(Boom, "boom")


class SubTypeError(TypeError):
    """A TypeError of the caller's own: it passes as it is, not as a conversion error."""


# A value that runs `effect` (if given) first whenever it converts.
class Hooked:
    def __init__(self, value, effect=None):
        self.value = value
        self.effect = effect

    def converted(self):
        if self.effect is not None:
            self.effect()
        return self.value


class Real(Hooked):
    """A number reached through __float__ alone."""

    def __float__(self):
        return self.converted()


class Index(Hooked):
    """An integer reached through __index__ alone."""

    def __index__(self):
        return self.converted()


# Every argument, the items of lists and tuples, and the values behind Real and Index.
def within(arguments):
    for a in arguments:
        yield a
        if isinstance(a, (list, tuple)):
            yield from within(a)
        elif isinstance(a, Hooked):
            yield a.value


# The sample again, with `effect` run as its first number converts.
def hooked(sample, effect):
    if isinstance(sample, list):
        return [hooked(sample[0], effect), *sample[1:]]
    return (Real if isinstance(sample, float) else Index)(sample, effect)


class FloatSub(float):
    """A float, but not exactly one."""


class IntSub(int):
    """An int, but not exactly one."""


class ListSub(list):
    """Holds its items backwards, iterates them forwards: read by index, reversed."""

    def __iter__(self):
        return iter(self[::-1])


class TupleSub(tuple):
    """Holds its items backwards, iterates them forwards: read by index, reversed."""

    def __iter__(self):
        return iter(self[::-1])


# A sequence by __getitem__; its __len__ is a hint, or raises an exception class.
class Seq:
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
        yield from self.items[:1]
        boom()


# The float v by each route that converts to it.
def real_forms(v):
    forms = [v, FloatSub(v), Real(v)]
    if math.isfinite(v) and v.is_integer() and key(v) != key(-0.0):
        forms += [int(v), IntSub(int(v)), Index(int(v))]
    return forms


def int_forms(n):
    forms = [n, IntSub(n), Index(n)]
    return [*forms, True] if n == 1 else forms


# The list as sequences, with mixed item forms, and as arrays of the typecode.
def list_forms(items, item_forms, code):
    mixed = [item_forms(v)[i % len(item_forms(v))] for i, v in enumerate(items)]
    back = items[::-1]
    typed, doubled = array.array(code, items), np.repeat(np.array(items, dtype=code), 2)
    sequences = [list(items), tuple(items), ListSub(back), TupleSub(back), mixed, tuple(mixed)]
    sequences += [Seq(items), Seq(items, 0), Seq(items, ValueError), typed, memoryview(typed)]
    return sequences + [doubled[::2], np.array(back, dtype=code)[::-1]]


@dataclass(frozen=True, eq=False)
class Kind:
    name: str  # as the refusals name it
    sample: object  # converts; larger ints than 256 are objects of their own
    values: st.SearchStrategy  # exact values: floats, ints and lists of them
    forms: object  # value -> the same value by every accepted route

    @property
    def refused(self):  # (argument, exception, message before the parameter prefix)
        rows = []
        for kinds, *refusals in REFUSED:
            if self.name in kinds.split():
                rows += refusals
        return rows


# Ints around the 30-bit digits of CPython's ints, read inline or not.
EDGES = [s * (2**b + d) for b in (30, 60, 62) for d in (-1, 0, 1) for s in (1, -1)]
EDGES += [2**63 - 1, -(2**63)]
FLOATS = st.floats() | st.sampled_from([0.0, -0.0, 0.5, 2.5, 1e300, *map(float, EDGES)])
INTS = st.integers(-3, 24) | st.sampled_from(EDGES)

NOT_SEQUENCE = "'{}' object cannot be converted to 'Sequence'".format
NOT_INT = "'{}' object cannot be interpreted as an integer".format
NOT_REAL = "must be real number, not {}".format
TOO_BIG, TOO_LARGE = "int too big to convert", "int too large to convert to float"
# A sequence of bytes objects over a buffer of numbers: read by iteration.
BYTE_MAP = mmap.mmap(-1, 1)
FAILS = (Index(1, boom), Boom, "boom")  # an error of the caller's own passes as it is
REFUSED = [  # (kinds, (argument, exception, its message before the parameter's name), ...)
    ("real", ("x", TypeError, NOT_REAL("str")), (10**400, OverflowError, TOO_LARGE)),
    ("real", (None, TypeError, NOT_REAL("NoneType"))),
    ("int", (2.5, TypeError, NOT_INT("float")), ("3", TypeError, NOT_INT("str"))),
    ("int", (2**63, OverflowError, TOO_BIG), (-(2**63) - 1, OverflowError, TOO_BIG)),
    ("count", (2.0, TypeError, NOT_INT("float")), (None, TypeError, NOT_INT("NoneType"))),
    ("count", (-1, OverflowError, "can't convert negative int to unsigned")),
    ("count", (2**64, OverflowError, TOO_BIG)),
    ("real int count", FAILS, (Index(1, raising(ValueError, "mine")), ValueError, "mine")),
    ("real int count", (Index(1, raising(SubTypeError, "subclass")), SubTypeError, "subclass")),
    ("numbers integers", ("12", TypeError, "Can't extract `str` to `Vec`")),
    ("numbers integers", ({1.0}, TypeError, NOT_SEQUENCE("set"))),
    ("numbers integers", ({1: 2}, TypeError, NOT_SEQUENCE("dict"))),
    ("numbers integers", (FailingIter([4]), Boom, "boom")),
    ("numbers integers", (iter([1.0]), TypeError, NOT_SEQUENCE("list_iterator"))),
    ("numbers", ([1.0, "x"], TypeError, NOT_REAL("str")), ([1.0, Real(1.0, boom)], Boom, "boom")),
    ("numbers", ([1.0, 10**400], OverflowError, TOO_LARGE)),
    ("numbers", (BYTE_MAP, TypeError, NOT_REAL("bytes"))),
    ("integers", ([7, 2.0], TypeError, NOT_INT("float")), ([1, Index(1, boom)], Boom, "boom")),
    ("integers", ([1, 2**63], OverflowError, TOO_BIG), (BYTE_MAP, TypeError, NOT_INT("bytes"))),
    ("integers", (array.array("d", [7.0]), TypeError, NOT_INT("float"))),
]

COUNTS = st.integers(0, 40) | st.sampled_from([2**30, 2**60, 2**64 - 1])
NUMBER_LISTS = partial(list_forms, item_forms=real_forms, code="d")
INTEGER_LISTS = partial(list_forms, item_forms=int_forms, code="q")
# Each parameter's kind by its annotation in the stub.
KINDS = {
    "SupportsFloat | SupportsIndex": Kind("real", 1.5, FLOATS, real_forms),
    "SupportsIndex": Kind("int", 3, INTS, int_forms),
    "_Count": Kind("count", 5, COUNTS, int_forms),
    "_Numbers": Kind("numbers", [3.0, 1.5, 2.0], st.lists(FLOATS, max_size=5), NUMBER_LISTS),
    "_Integers": Kind("integers", [1200, 1800, -800], st.lists(INTS, max_size=5), INTEGER_LISTS),
}
NUMBERS, INTEGERS = KINDS["_Numbers"], KINDS["_Integers"]
# The stub's marker of a method that only reads the stored number (shared access).
READ_ONLY = "Read only."


@dataclass(frozen=True)
class Entry:
    name: str
    method: bool  # an instance method; the constructor is not one
    params: tuple  # (name, kind, default or EMPTY)
    returns: str
    doc: str  # the stub's docstring, its lines joined by single spaces

    @property
    def reads(self):
        return self.method and READ_ONLY in self.doc

    # The callable itself, a method bound to the receiver.
    def on(self, receiver):
        if self.name == "__new__":
            return Tesmarmath
        return getattr(receiver if self.method else tm, self.name)

    def sample(self):
        # A list, not a generator: a generator left to the collector would count as a leak.
        return tuple([kind.sample for _, kind, _ in self.params])

    def __repr__(self):  # as messages name it
        owner = "Tesmarmath." if self.method or self.name == "__new__" else ""
        return f"{owner}{self.name}()"


def kind_of(function, arg):
    annotation = ast.unparse(arg.annotation)
    assert annotation in KINDS, (
        f"{function}: the stub annotates '{arg.arg}' as {annotation}, which has no Kind in "
        "KINDS (tests/registry.py): give it one there, or annotate it with a type that has one"
    )
    return KINDS[annotation]


def read_stub(node, in_class):
    args = node.args.args[1:] if in_class else node.args.args
    defaults = [EMPTY] * (len(args) - len(node.args.defaults))
    defaults += [ast.literal_eval(d) for d in node.args.defaults]
    params = tuple((a.arg, kind_of(node.name, a), d) for a, d in zip(args, defaults, strict=True))
    doc = " ".join((ast.get_docstring(node) or "").split())
    returns = ast.unparse(node.returns)
    return Entry(node.name, in_class and node.name != "__new__", params, returns, doc)


FUNCTIONS = [read_stub(n, False) for n in STUB.body if isinstance(n, ast.FunctionDef)]
METHODS = [read_stub(n, True) for n in STUB_CLASS.body if isinstance(n, ast.FunctionDef)]
CONSTRUCTOR = METHODS.pop(0)
EVERY = FUNCTIONS + METHODS + [CONSTRUCTOR]
BY_NAME = {repr(e): e for e in EVERY}
# What may call back into a receiver: every method with its sample arguments, and the text
# form; by label, with whether it only reads.
INNER = {repr(e): (e, e.reads) for e in METHODS} | {"repr()": (repr, True), "str()": (str, True)}


def call_inner(label, receiver):
    inner, _ = INNER[label]
    return inner(receiver) if inner in (repr, str) else inner.on(receiver)(*inner.sample())


class CallBack:
    """A call of `outer` whose first argument, as it converts, calls `inner` (a label of INNER) on
    the receiver: the method's own receiver, a bystander for a function. `met` is the message of
    the RuntimeError that the inner call met, or None; with `escape` that error fails the call."""

    def __init__(self, outer, inner, escape):
        self.outer, self.inner, self.escape = outer, inner, escape
        self.receiver, self.met = Tesmarmath(2.5), None
        first, *rest = outer.sample()
        self.args = (hooked(first, self.call_back), *rest)

    def call_back(self):
        self.met = None
        try:
            call_inner(self.inner, self.receiver)
        except RuntimeError as error:
            self.met = str(error)
            if self.escape:
                raise

    def __call__(self):
        return self.outer.on(self.receiver)(*self.args)


# (label, call, arguments) for every path of one callable.
def paths(entry):
    sample, names = entry.sample(), [n for n, _, _ in entry.params]

    def call(*args, **kwargs):
        return entry.on(Tesmarmath(2.5))(*args, **kwargs)

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


# Every inner callable met by a held receiver, its refusal caught or escaping.
def held_paths():
    mult_of = BY_NAME["Tesmarmath.mult_of()"]
    for label, escape in itertools.product(INNER, (False, True)):
        call = CallBack(mult_of, label, escape)
        yield f"{label} held, escaping {escape}", call, call.args


def text_forms():
    numbers = (0.1, -0.0, math.nan, 1e300, 5e-324)
    return [text(Tesmarmath(x)) for text in (repr, str) for x in numbers]


# The operations' own failures by callable, each message that its docstring quotes (the suite
# checks that every one is here), and the longest paths; then other paths worth sweeping.
OPERATION_ERRORS = {
    "div_of()": [lambda: tm.div_of([1.0, -0.0])],
    "Tesmarmath.div_of()": [lambda: Tesmarmath(1.0).div_of([0.0])],
    "int_div_of()": [lambda: tm.int_div_of([1, 0]), lambda: tm.int_div_of([-(2**63), -1])],
    "Tesmarmath.int_div_of()": [
        lambda: Tesmarmath(1.0).int_div_of([0]),
        lambda: Tesmarmath(-1e300).int_div_of([-1]),
    ],
    "square_root()": [lambda: tm.square_root(-1.0)],
    "Tesmarmath.square_root()": [lambda: Tesmarmath(-1.0).square_root()],
    "factorial()": [lambda: tm.factorial(-1), lambda: tm.factorial(21)],
    "Tesmarmath.factorial()": [
        lambda: Tesmarmath(-1.0).factorial(),
        lambda: Tesmarmath(34.0).factorial(),
    ],
    "tetration()": [
        lambda: tm.tetration(2.0, -1),
        lambda: tm.tetration(2.0, 5),
        lambda: tm.tetration(0.5, 2**63 - 1),
    ],
    "Tesmarmath.tetration()": [
        lambda: Tesmarmath(2.0).tetration(-1),
        lambda: Tesmarmath(2.0).tetration(5),
        lambda: Tesmarmath(0.01).tetration(2**62),
    ],
    "gcd_with_int()": [lambda: tm.gcd_with_int([])],
    "gcd_with_float()": [lambda: tm.gcd_with_float(())],
    "Tesmarmath.gcd_with_int()": [lambda: Tesmarmath(1.0).gcd_with_int([])],
    "Tesmarmath.gcd_with_float()": [lambda: Tesmarmath(1.0).gcd_with_float([])],
    "tan()": [lambda: tm.tan(math.pi / 2), lambda: tm.tan(1.0, 0)],
    "Tesmarmath.tan()": [lambda: Tesmarmath(math.pi / 2).tan()],
    "cos()": [lambda: tm.cos(math.nan, 2**64 - 1)],
    "Tesmarmath.sin()": [lambda: Tesmarmath(3e19).sin(2**64 - 1)],
}
OTHER_PATHS = {
    "construction by __new__": [
        lambda: Tesmarmath.__new__(Tesmarmath, 2.5),
        lambda: Tesmarmath.__new__(Tesmarmath, number=2.5),
        lambda: Tesmarmath.__new__(Tesmarmath, 2.5, number=1.0),
    ],
    "text form": [text_forms],
}


# The (exception type's name, message) pairs that a docstring quotes after "Raises ValueError" or
# "Raises ZeroDivisionError", up to the end of that sentence.
def documented_errors(doc):
    found = set()
    for kind, rest in re.findall(r"Raises (ValueError|ZeroDivisionError) (.*?)(?=Raises |$)", doc):
        for between, quoted in re.findall(r'([^"]*)"([^"]*)"', rest):
            if "." in between:
                break
            found.add((kind, quoted))
    return found


# Every path of every callable, by its owner: what the leak sweep and allocation failure run.
PATHS = {repr(e): list(paths(e)) for e in EVERY} | {"re-entry": list(held_paths())}
for owner, calls in (OPERATION_ERRORS | OTHER_PATHS).items():
    PATHS[f"{owner} errors"] = [(f"{owner} {i}", call, ()) for i, call in enumerate(calls)]


# A call's result type and value (a float by its bits, an instance by its number's), or its
# exception's type and arguments: comparable across routes.
def outcome(call, *args, **kwargs):
    try:
        result = call(*args, **kwargs)
    except Exception as error:  # noqa: BLE001
        return type(error), error.args
    if isinstance(result, Tesmarmath):
        return Tesmarmath, key(result.get_number())
    return type(result), key(result) if isinstance(result, float) else result
