"""Hostile-input fuzzing over every callable: whatever the arguments, the
interpreter survives, only documented exceptions (or the caller's own) come
out, a failed method leaves its receiver bit for bit as it was, a successful
one leaves it holding exactly what it returned, and the borrow flag is free
afterwards. HYPOTHESIS_PROFILE=deep runs many more examples."""

import math
import signal
import struct
import sys
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import given, strategies as st

import tesmar_math as tm
from tesmar_math import Tesmarmath

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

# name: (parameters, required count, parameter kinds, result type)
FUNCTIONS = {
    **{n: (("args",), 1, "L", float) for n in ("sum_of", "dif_of", "div_of", "mult_of", "lcm_with")},
    **{n: (("args",), 1, "J", int) for n in ("int_div_of", "gcd_with_int")},
    "gcd_with_float": (("args",), 1, "L", int),
    **{n: (("number",), 1, "R", float) for n in ("square", "cube", "square_root", "cube_root")},
    "power": (("number", "exponent"), 2, "RR", float),
    "factorial": (("number",), 1, "I", int),
    **{n: (("number",), 1, "R", int) for n in ("floor", "ceil", "sign")},
    **{n: (("number",), 1, "R", bool) for n in ("is_positive", "is_negative", "is_integer")},
    **{n: (("number",), 1, "I", bool) for n in ("is_even", "is_odd")},
    **{n: (("number", "terms"), 1, "RU", float) for n in ("cos", "sin", "tan")},
    "tetration": (("base", "height"), 2, "RI", float),
}
# name: (parameters, required count, parameter kinds, what the call does)
# "new": stores the result, returns a new instance; "value": stores the
# result as a float and returns it; "read": shared access, stores nothing.
METHODS = {
    "get_number": ((), 0, "", ("read", float)),
    **{n: (("args",), 1, "L", ("new",)) for n in ("sum_of", "dif_of", "div_of", "mult_of", "lcm_with")},
    **{n: (("args",), 1, "J", ("new",)) for n in ("int_div_of", "gcd_with_int")},
    **{n: ((), 0, "", ("new",)) for n in
       ("square", "cube", "power_of_2", "square_root", "cube_root", "factorial", "floor", "ceil", "sign")},
    "power": (("exponent",), 1, "R", ("new",)),
    "gcd_with_float": (("args",), 1, "L", ("value", int)),
    **{n: ((), 0, "", ("read", bool)) for n in ("is_positive", "is_negative", "is_even", "is_odd")},
    **{n: (("terms",), 0, "U", ("value", float)) for n in ("cos", "sin", "tan")},
    "tetration": (("height",), 1, "I", ("new",)),
}
assert len(FUNCTIONS) == 26 and len(METHODS) == 27

DOCUMENTED = (TypeError, ValueError, ZeroDivisionError, OverflowError, RuntimeError)
VALUE_ERRORS = {
    "Cannot calculate square root of a negative number",
    "The factorial of a negative number is not defined.", "Factorial overflow", "Factorial overflow.",
    "Height can't be negative", "The result is too big (infinity)",
    "gcd_with_int() requires at least one argument", "gcd_with_float() requires at least one argument",
    "cannot convert signaling NaN to float",  # Decimal's own __float__
}
ZERO_DIVISIONS = {"Division by zero!", "Can't divide by zero!",
                  "Tangent is undefined: cosine is zero", "Tangent undefined (cos close to 0)"}
CONFLICT = {"shared": "Already mutably borrowed", "exclusive": "Already borrowed"}


def bits(x):
    return struct.pack("<d", x)


# The caller's own exceptions: every one raised is recorded, so the module
# can be shown to pass the very object on.
class HostileError(Exception):
    pass


class HostileTypeError(TypeError):  # a subclass is not wrapped
    pass


class HostileBase(BaseException):
    pass


class Stalled(Exception):
    """Raised by the alarm when one call runs too long."""


class Text:
    """An exception argument whose str() raises or calls back: the module
    takes str() of a TypeError to name the argument."""

    def __init__(self, plan):
        self.plan = plan

    def __str__(self):
        act(self.plan)
        return "hostile text"


RAISED = []
RAISES = [HostileError, HostileTypeError, HostileBase, TypeError, ValueError, OverflowError,
          IndexError, StopIteration, ZeroDivisionError, RuntimeError,
          lambda _: TypeError(Text(("raise", HostileError))),
          lambda _: TypeError(Text(("call", ("square", False)))),
          lambda _: TypeError(Text(("call", ("get_number", True))))]

# Python code run by a conversion calls back into TARGET[0], the receiver
# of the method under test (or a bystander for the other callables).
TARGET = [None]
INNER_LOG = []
INNER_CALLS = {
    "get_number": ("shared", lambda t: t.get_number()),
    "repr": ("shared", repr),
    "str": ("shared", str),
    "is_odd": ("shared", lambda t: t.is_odd()),
    "square": ("exclusive", lambda t: t.square()),
    "sum_of": ("exclusive", lambda t: t.sum_of([1.0])),
    "tan": ("exclusive", lambda t: t.tan(3)),
    "tetration": ("exclusive", lambda t: t.tetration(2)),
}


def act(plan):
    """What a hostile dunder does: return something (maybe of the wrong
    type), raise, or call back into the target first."""
    kind, what = plan
    if kind == "return":
        return what
    if kind == "raise":
        error = what("hostile")
        RAISED.append(error)
        raise error
    name, escape = what
    access, call = INNER_CALLS[name]
    try:
        call(TARGET[0])
    except Exception as error:  # noqa: BLE001
        INNER_LOG.append((access, error))
        if escape:
            RAISED.append(error)
            raise
    else:
        INNER_LOG.append((access, None))
    return 1.5


class Real:
    def __init__(self, plan):
        self.plan = plan

    def __float__(self):
        return act(self.plan)

    def __repr__(self):
        return f"Real({self.plan!r})"


class Index:
    def __init__(self, plan):
        self.plan = plan

    def __index__(self):
        return act(self.plan)

    def __repr__(self):
        return f"Index({self.plan!r})"


class Seq:
    """A sequence by __getitem__ alone, with a __len__ that may lie."""

    def __init__(self, items, length, fail_at, plan):
        self.items, self.length, self.fail_at, self.plan = items, length, fail_at, plan

    def __len__(self):
        return act(self.length)

    def __getitem__(self, i):
        if i == self.fail_at:
            return act(self.plan)
        return self.items[i]

    def __repr__(self):
        return f"Seq({self.items!r}, {self.length!r}, {self.fail_at!r}, {self.plan!r})"


class IterSeq(Seq):
    """A sequence whose __iter__ may return a non-iterator or raise."""

    def __iter__(self):
        if self.fail_at == -1:
            return act(self.plan)
        return iter(self.items)


class FloatSub(float):
    pass


class IntSub(int):
    pass


class ListSub(list):
    def __len__(self):
        return 2**62  # only a hint: nothing is reserved for it


class Mutator:
    """A list item whose conversion changes the list being converted."""

    def __init__(self, action):
        self.action, self.owner, self.budget = action, None, 3

    def __float__(self):
        if self.owner is not None and self.budget > 0:
            self.budget -= 1
            {"clear": list.clear, "pop": lambda l: l and l.pop(), "grow": lambda l: l.append(2.0),
             "swap": lambda l: l.__setitem__(slice(None), [0.0, "x"])}[self.action](self.owner)
        return 0.5

    __index__ = lambda self: int(self.__float__())  # noqa: E731

    def __repr__(self):
        return f"Mutator({self.action!r})"


NAN_PAYLOAD = struct.unpack("<d", struct.pack("<Q", 0xFFF8_0000_0000_BEEF))[0]
FLOATS = st.one_of(
    st.floats(),
    st.sampled_from([0.0, -0.0, math.inf, -math.inf, math.nan, NAN_PAYLOAD, 5e-324, -5e-324,
                     2.2250738585072014e-308, 1.7976931348623157e308, -1.7976931348623157e308,
                     9223372036854774784.0, 2.0**63, -2.0**63, 1.7014118346046921e38, 0.5, 2.5, -0.5,
                     math.pi / 2, 1.5e16, 1e17, 33.0, 34.0, -1.0, 1.2, 0.066, 2.0]))
INT_EDGES = [0, 1, -1, 2, 3, 20, 21, 33, 34, 2**31 - 1, 2**53 + 1, 2**63 - 1, -2**63,  # in range
             2**63, -2**63 - 1, 2**64 - 1, 2**64, -2**64, 10**400]


def weighted(*choices):
    """(weight, strategy) pairs. one_of flattens nested one_ofs and weighs
    every leaf alike, which would drown the valid values in hostile ones."""
    table = [strategy for weight, strategy in choices for _ in range(weight)]
    return st.sampled_from(table).flatmap(lambda strategy: strategy)


INTS = weighted((3, st.integers(-50, 50)), (2, st.sampled_from(INT_EDGES)), (1, st.integers(-2**70, 2**70)))
ODD = st.sampled_from([1j, Decimal("1.5"), Decimal("sNaN"), Decimal("-Infinity"), Fraction(1, 3),
                       Fraction(10**400), bytearray(b"\x01\x02"), object(), Ellipsis, float, "3", "",
                       b"\x00\xff", None, True, False, [], (), {}, set(), {1.0: 2.0}, range(0),
                       FloatSub(2.5), IntSub(3), IntSub(-2**63)])
SCALARS = st.one_of(FLOATS, INTS, ODD, st.text(max_size=4), st.builds(Tesmarmath, FLOATS))

plans = st.one_of(
    st.tuples(st.just("return"), st.one_of(FLOATS, INTS, ODD)),
    st.tuples(st.just("raise"), st.sampled_from(RAISES)),
    st.tuples(st.just("call"), st.tuples(st.sampled_from(sorted(INNER_CALLS)), st.booleans())),
)
users = st.one_of(st.builds(Real, plans), st.builds(Index, plans))
numbers = st.one_of(FLOATS, INTS, st.booleans())
items = st.lists(weighted((6, numbers), (1, users), (1, SCALARS)), max_size=6)
clean = st.lists(numbers, max_size=6)
small_ints = st.one_of(st.integers(-50, 50), st.sampled_from(INT_EDGES[:13]), st.booleans())
clean_ints = st.lists(small_ints, max_size=6)
lengths = st.one_of(st.tuples(st.just("return"), st.one_of(st.integers(-3, 10), st.sampled_from(
    [2**62, sys.maxsize, 2**64, 1.5, None]))), plans)


@st.composite
def mutated_lists(draw):
    values = draw(st.lists(st.one_of(FLOATS, INTS), max_size=4))
    mutators = draw(st.lists(st.builds(Mutator, st.sampled_from(["clear", "pop", "grow", "swap"])),
                             min_size=1, max_size=2))
    lst = values + mutators
    for m in mutators:
        m.owner = lst
    return draw(st.permutations(lst))


def rebound(mutated):  # permutations copies the list: point the mutators at the copy
    for m in mutated:
        if isinstance(m, Mutator):
            m.owner = mutated
    return mutated


sequences = st.one_of(
    items, items.map(tuple), items.map(ListSub), mutated_lists().map(rebound),
    st.integers(0, 8).map(range), st.binary(max_size=4), st.text(max_size=3),
    items.map(lambda l: dict(enumerate(l))),
    items.map(lambda l: (v for v in l)), items.map(iter), st.frozensets(FLOATS, max_size=3),
    st.builds(Seq, items, lengths, st.integers(-1, 6), plans),
    st.builds(IterSeq, items, lengths, st.integers(-1, 6), plans),
)
hostile = weighted((1, SCALARS), (1, users), (2, sequences))
SUITED = {  # mostly values the parameter accepts, so the operations run
    "R": weighted((6, numbers), (1, users), (1, hostile)),
    "I": weighted((5, small_ints), (1, INTS), (1, users), (1, hostile)),
    "U": weighted((5, st.integers(0, 40)), (1, st.sampled_from([2**63, 2**64 - 1, 2**64, -1])),
                  (1, users), (1, hostile)),
    "L": weighted((4, clean), (1, clean.map(tuple)), (2, sequences), (1, hostile)),
    "J": weighted((4, clean_ints), (1, clean_ints.map(tuple)), (2, sequences), (1, hostile)),
}
KEYWORDS = ["args", "number", "exponent", "base", "height", "terms", "x", "self", "Number", "\udcff", "é"]


@st.composite
def arguments(draw, params, required, kinds):
    """Mostly well-shaped calls (each parameter once, by position or
    keyword); otherwise any count of positional and keyword arguments."""
    if draw(st.integers(0, 3)) > 0:
        count = draw(st.integers(required, len(params)))
        by_keyword = draw(st.integers(0, count))
        values = [draw(SUITED[k]) for k in kinds[:count]]
        split = count - by_keyword
        return tuple(values[:split]), dict(zip(params[split:count], values[split:]))
    return (tuple(draw(st.lists(hostile, max_size=3))),
            draw(st.dictionaries(st.sampled_from(KEYWORDS), hostile, max_size=3)))


def on_alarm(signum, frame):
    raise Stalled("hostile")


def call(fn, args, kwargs):
    """Runs one call under a two-second alarm; returns (result, exception)."""
    RAISED.clear()
    INNER_LOG.clear()
    previous = signal.signal(signal.SIGALRM, on_alarm)
    signal.setitimer(signal.ITIMER_REAL, 2.0)
    try:
        return fn(*args, **kwargs), None
    except BaseException as error:  # noqa: BLE001
        return None, error
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def check_documented(error, call_name, params, may_stall=False):
    if isinstance(error, Stalled):
        # Only a tower creeping to its limit may run this long; it polls
        # for signals, so the alarm stopped it.
        assert may_stall, f"{call_name} ran for more than two seconds"
        return
    if any(error is raised for raised in RAISED):
        return  # the caller's own exception, passed on as it stands
    assert type(error) in DOCUMENTED, f"{call_name} raised {type(error).__name__}: {error}"
    message = str(error)
    if type(error) is TypeError:
        assert message.startswith(f"{call_name} ") or any(
            message.startswith(f"argument '{p}': ") for p in params), message
    elif type(error) is ValueError:
        assert message in VALUE_ERRORS, message
    elif type(error) is ZeroDivisionError:
        assert message in ZERO_DIVISIONS, message
    elif type(error) is RuntimeError:
        assert message in CONFLICT.values(), message


def check_free(t):
    """The borrow flag is free: shared and exclusive access both succeed
    (mult_of([]) stores the number it holds)."""
    before = bits(t.get_number())
    assert bits(t.mult_of([]).get_number()) == before == bits(t.get_number())


@pytest.mark.parametrize("name", FUNCTIONS)
@given(data=st.data(), bystander=FLOATS)
def test_module_functions_survive_hostile_calls(name, data, bystander):
    params, required, kinds, result_type = FUNCTIONS[name]
    args, kwargs = data.draw(arguments(params, required, kinds))
    TARGET[0] = Tesmarmath(bystander)  # callbacks reach a free instance
    result, error = call(getattr(tm, name), args, kwargs)
    if error is None:
        assert type(result) is result_type
    else:
        check_documented(error, f"{name}()", params, may_stall=name == "tetration")
    assert all(not isinstance(e, RuntimeError) for _, e in INNER_LOG)
    check_free(TARGET[0])


@pytest.mark.parametrize("name", METHODS)
@given(data=st.data(), stored=FLOATS)
def test_methods_survive_hostile_calls(name, data, stored):
    params, required, kinds, does = METHODS[name]
    t = Tesmarmath(stored)
    TARGET[0] = t
    before = bits(t.get_number())
    args, kwargs = data.draw(arguments(params, required, kinds))
    result, error = call(getattr(t, name), args, kwargs)
    now = t.get_number()
    if error is not None:
        check_documented(error, f"Tesmarmath.{name}()", params, may_stall=name == "tetration")
        assert bits(now) == before, "a failed call changed the receiver"
    elif does[0] == "new":
        assert type(result) is Tesmarmath and result is not t
        assert bits(result.get_number()) == bits(now)
        check_free(result)
    elif does[0] == "value":
        assert type(result) is does[1]
        assert bits(now) == bits(float(result))
    else:
        assert type(result) is does[1] and bits(now) == before
    # Calls back into the receiver met the borrow flag, every one of them.
    assert all(type(e) is RuntimeError and str(e) == CONFLICT[access] for access, e in INNER_LOG)
    check_free(t)


@given(data=st.data())
def test_constructor_survives_hostile_calls(data):
    args, kwargs = data.draw(arguments(("number",), 1, "R"))
    TARGET[0] = Tesmarmath(1.0)
    result, error = call(Tesmarmath, args, kwargs)
    if error is not None:
        check_documented(error, "Tesmarmath.__new__()", ("number",))
    else:
        assert type(result) is Tesmarmath
        check_free(result)
    if len(args) == 1 and not kwargs and type(args[0]) in (float, int, bool):
        try:  # the float protocol itself is the oracle
            expected = float(args[0])
        except OverflowError:
            assert type(error) is OverflowError
        else:
            assert error is None and bits(result.get_number()) == bits(expected)
    check_free(TARGET[0])


@given(x=st.one_of(FLOATS, st.integers(0, 2**64 - 1).map(lambda n: struct.unpack("<d", struct.pack("<Q", n))[0])))
def test_repr_and_str_round_trip(x):
    t = Tesmarmath(x)
    text = str(t)
    assert repr(t) == f"Tesmarmath({text})"
    assert "e" not in text.replace("inf", "")
    if math.isnan(x):
        assert text == "NaN"
    else:
        assert bits(float(text)) == bits(x)
    assert bits(t.get_number()) == bits(x)
    check_free(t)
