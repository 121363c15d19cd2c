"""List arithmetic: sum_of, dif_of, div_of, int_div_of, mult_of on both surfaces."""
import math
import struct
import sys

import pytest
from hypothesis import example, given, strategies as st

import tesmar_math as tm
from tesmar_math import Tesmarmath

NAMES = ["sum_of", "dif_of", "div_of", "int_div_of", "mult_of"]
FLOAT_NAMES = ["sum_of", "dif_of", "div_of", "mult_of"]
MIN, MAX = -2**63, 2**63 - 1
nan, inf = math.nan, math.inf


class Zero(Exception):
    """The oracle's zero divisor."""


def fold(op, acc, items):
    for a in items:
        acc = op(acc, a)
    return acc


def fdiv(a, b):
    if b == 0.0:
        raise Zero
    return a / b


def idiv(a, b):  # exact, truncating toward zero
    if b == 0:
        raise Zero
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def saturate(x):
    if math.isnan(x):
        return 0
    return MAX if x > 9223372036854774784.0 else MIN if x < -2.0**63 else int(x)


def module_oracle(name, items):
    if name == "int_div_of":
        return fold(idiv, items[0], items[1:]) if items else 0
    items = [float(a) for a in items]
    if name == "sum_of":
        return fold(float.__add__, -0.0, items)
    first, rest = (items[0], items[1:]) if items else ({"dif_of": 0.0, "div_of": 0.0, "mult_of": 1.0}[name], [])
    return fold({"dif_of": float.__sub__, "div_of": fdiv, "mult_of": float.__mul__}[name], first, rest)


def method_oracle(name, s, items):
    if name == "sum_of":
        return module_oracle("sum_of", items) + s
    if name == "dif_of":
        return s - module_oracle("dif_of", items) if items else s
    if name == "int_div_of":
        return float(fold(idiv, saturate(s), items)) if items else s
    return fold({"div_of": fdiv, "mult_of": float.__mul__}[name], s, [float(a) for a in items])


def bits(x):
    return struct.pack("<d", x)


def same(got, want):
    if isinstance(want, int):
        return type(got) is int and got == want
    return type(got) is float and (math.isnan(got) and math.isnan(want) or bits(got) == bits(want))


def call_method(s, name, args):
    """Runs the method; checks the receiver holds exactly the new instance's value."""
    t = Tesmarmath(s)
    r = getattr(t, name)(args)
    assert type(r) is Tesmarmath and r is not t
    assert same(r.get_number(), t.get_number())
    return r.get_number()


MODULE_CASES = [
    ("sum_of", [], -0.0), ("sum_of", [1, 2, 3.5], 6.5), ("sum_of", [0.0], 0.0), ("sum_of", [-0.0], -0.0),
    ("sum_of", [1e16, 1.0, 1.0], 1e16), ("sum_of", [1.0, 1.0, 1e16], 1.0000000000000002e16),
    ("sum_of", [inf, -inf], nan), ("sum_of", [1e308, 1e308, -1e308], inf),
    ("dif_of", [], 0.0), ("dif_of", [10, 3, 2], 5.0), ("dif_of", [4], 4.0), ("dif_of", [-0.0], -0.0),
    ("dif_of", [-0.0, 0.0], -0.0), ("dif_of", [0.0, 0.0], 0.0), ("dif_of", [inf, inf], nan),
    ("div_of", [], 0.0), ("div_of", [8], 8.0), ("div_of", [100, 5, 2], 10.0), ("div_of", [0, 5], 0.0),
    ("div_of", [0.0], 0.0), ("div_of", [-0.0, 5], -0.0), ("div_of", [1, nan], nan), ("div_of", [1, inf], 0.0),
    ("div_of", [-1, inf], -0.0), ("div_of", [1e308, 1e-10], inf), ("div_of", [inf, inf], nan),
    ("int_div_of", [], 0), ("int_div_of", [5], 5), ("int_div_of", [0], 0), ("int_div_of", [7, 2], 3),
    ("int_div_of", [-7, 2], -3), ("int_div_of", [7, -2], -3), ("int_div_of", [-7, -2], 3),
    ("int_div_of", [100, 3, 3], 11), ("int_div_of", [0, 5], 0), ("int_div_of", [True, True], 1),
    ("int_div_of", [MIN, 1], MIN), ("int_div_of", [MIN, -1], 2**63), ("int_div_of", [MIN, -1, -1], MIN),
    ("int_div_of", [MIN, -1, 2], 2**62), ("int_div_of", [MIN, -1, 1], 2**63), ("int_div_of", [MAX, -1], -MAX),
    ("mult_of", [], 1.0), ("mult_of", [2, 3, 0.5], 3.0), ("mult_of", [-0.0], -0.0), ("mult_of", [0.0, -1], -0.0),
    ("mult_of", [inf, 0], nan), ("mult_of", [1e200, 1e200, 0], nan),
]

METHOD_CASES = [
    ("sum_of", 1e16, [1.0, 1.0], 1.0000000000000002e16), ("sum_of", 5, [], 5.0), ("sum_of", -0.0, [], -0.0),
    ("sum_of", 0.0, [-0.0], 0.0), ("sum_of", -0.0, [-0.0], -0.0), ("sum_of", 1.0, [1e16, -1e16], 1.0),
    ("dif_of", 10, [3, 2], 9.0), ("dif_of", 10, [3], 7.0), ("dif_of", 10, [], 10.0), ("dif_of", -0.0, [], -0.0),
    ("dif_of", -0.0, [0.0], -0.0), ("dif_of", 0.0, [0.0], 0.0), ("dif_of", inf, [inf], nan),
    ("div_of", 100, [5, 2], 10.0), ("div_of", 0, [5], 0.0), ("div_of", 10, [], 10.0), ("div_of", 1, [nan], nan),
    ("div_of", 1, [-inf], -0.0), ("div_of", nan, [], nan), ("div_of", 0.0, [-2], -0.0),
    ("int_div_of", 7.9, [2], 3.0), ("int_div_of", -7.5, [2], -3.0), ("int_div_of", 2.5, [], 2.5),
    ("int_div_of", nan, [3], 0.0), ("int_div_of", nan, [], nan), ("int_div_of", -inf, [], -inf),
    ("int_div_of", -0.0, [], -0.0), ("int_div_of", -0.0, [5], 0.0), ("int_div_of", 0.9, [-1], 0.0),
    ("int_div_of", 1e300, [1], 9223372036854775808.0), ("int_div_of", -1e300, [-1], 9223372036854775808.0),
    ("int_div_of", -1e300, [-1, -1], -9223372036854775808.0), ("int_div_of", inf, [2], float(MAX // 2)),
    ("int_div_of", 2.0**62, [3], float(2**62 // 3)),
    ("mult_of", 3, [2, 0.5], 3.0), ("mult_of", 3, [], 3.0), ("mult_of", -0.0, [], -0.0),
    ("mult_of", 0.0, [-1], -0.0), ("mult_of", inf, [0], nan),
]


@pytest.mark.parametrize("name, items, want", MODULE_CASES)
def test_module_functions(name, items, want):
    assert same(getattr(tm, name)(items), want)
    assert same(module_oracle(name, items), want)  # the oracle agrees on every pinned value


@pytest.mark.parametrize("name, s, items, want", METHOD_CASES)
def test_methods(name, s, items, want):
    assert same(call_method(s, name, items), want)
    assert same(method_oracle(name, float(s), items), want)


ZERO_DIVISIONS = [  # (stored number or None for the module function, name, items)
    (None, "div_of", [5, 0]), (None, "div_of", [5, -0.0]), (None, "div_of", [0, 0.0]),
    (None, "div_of", [1, 2, 0, nan]), (None, "int_div_of", [5, 0]), (None, "int_div_of", [MIN, -1, 0]),
    (10, "div_of", [2, 0]), (10, "div_of", [0]), (10, "div_of", [-0.0]), (nan, "div_of", [nan, 0]),
    (6, "int_div_of", [0]), (6, "int_div_of", [2, 0]), (-1e300, "int_div_of", [-1, 0]), (2.5, "int_div_of", [0]),
]


@pytest.mark.parametrize("s, name, items", ZERO_DIVISIONS)
def test_zero_division(s, name, items, no_leak):
    t = Tesmarmath(0.0 if s is None else s)
    call = lambda: getattr(tm if s is None else t, name)(items)  # noqa: E731
    with pytest.raises(ZeroDivisionError) as caught:
        call()
    message = "Division by zero!" if s is None else "Can't divide by zero!"
    assert caught.type is ZeroDivisionError and caught.value.args == (message,)
    no_leak(call)
    assert same(t.get_number(), 0.0 if s is None else float(s))


floats = st.floats() | st.sampled_from([0.0, -0.0, 1e16, 1.0, 3.0, 1e308, 5e-324])
numbers = floats | st.integers(-2**70, 2**70) | st.booleans()
int64s = st.sampled_from([0, 1, -1, 2, -2, 3, MIN, MAX, MIN + 1]) | st.integers(MIN, MAX)


def check_against(oracle, call):
    try:
        want = oracle()
    except Zero:
        with pytest.raises(ZeroDivisionError):
            call()
        return
    assert same(call(), want)


@given(st.sampled_from(FLOAT_NAMES), st.lists(numbers, max_size=8), floats)
def test_float_folds_match_the_exact_order_oracle(name, items, s):
    check_against(lambda: module_oracle(name, items), lambda: getattr(tm, name)(items))
    check_against(lambda: method_oracle(name, s, items), lambda: call_method(s, name, items))


@given(st.lists(int64s, max_size=6), floats | st.sampled_from([-2.0**63, 2.0**63, 9223372036854774784.0]))
@example([MIN, -1], -1e300)
def test_int_div_of_is_exact(items, s):
    check_against(lambda: module_oracle("int_div_of", items), lambda: tm.int_div_of(items))
    check_against(lambda: method_oracle("int_div_of", s, items), lambda: call_method(s, "int_div_of", items))


class UserSeq:
    def __init__(self, items, length=None):
        self.items, self.length = items, length

    def __len__(self):
        if self.length is None:
            raise ValueError("no length")
        return self.length

    def __getitem__(self, i):
        return self.items[i]


class BackwardsList(list):
    def __iter__(self):
        return reversed(self[:])


class BackwardsTuple(tuple):
    def __iter__(self):
        return reversed(tuple(self[:]))


KINDS = {  # every accepted kind, made to yield the given items in iteration order
    "list": list, "tuple": tuple, "bytes": bytes, "bytearray": bytearray,
    "user sequence": lambda xs: UserSeq(xs, len(xs)), "lying len": lambda xs: UserSeq(xs, sys.maxsize),
    "zero len": lambda xs: UserSeq(xs, 0), "len raises": UserSeq,
    "list with own iter": lambda xs: BackwardsList(xs[::-1]),
    "tuple with own iter": lambda xs: BackwardsTuple(xs[::-1]),
}


@pytest.mark.parametrize("kind", KINDS.values(), ids=KINDS.keys())
def test_accepted_sequence_kinds_fold_in_iteration_order(kind, no_leak):
    args = kind([100, 3, 3])
    assert [x for x in args] == [100, 3, 3]  # list() would trust the lying length
    assert tm.dif_of(args) == 94.0 and tm.int_div_of(args) == 11 and tm.sum_of(args) == 106.0
    assert call_method(1.0, "dif_of", args) == -93.0 and call_method(1e9, "int_div_of", args) == 1111111.0
    t = Tesmarmath(2.0)
    for name in NAMES:
        no_leak(lambda: getattr(tm, name)(args), rounds=1000)
        no_leak(lambda: getattr(t, name)(args), rounds=1000)


def test_range_and_bytes():
    assert tm.sum_of(b"ab") == 195.0 and tm.sum_of(range(4)) == 6.0 and tm.int_div_of(range(0)) == 0
    assert tm.int_div_of((MIN, -1)) == 2**63 and tm.mult_of((1e300, 1e300)) == inf
    assert tm.int_div_of(range(100, 2, -97)) == 33 and call_method(7, "int_div_of", range(3, 0, -1)) == 1.0


class NotSeq:
    def __iter__(self):
        return iter([1.0])


class Text(str):
    pass


REFUSED = [  # (argument, message, message from int_div_of when it differs)
    ("12", "Can't extract `str` to `Vec`", None), (Text("1"), "Can't extract `str` to `Vec`", None),
    ({1.0, 2.0}, "'set' object cannot be converted to 'Sequence'", None),
    (frozenset(), "'frozenset' object cannot be converted to 'Sequence'", None),
    ({1: 2.0}, "'dict' object cannot be converted to 'Sequence'", None),
    ((x for x in [1.0]), "'generator' object cannot be converted to 'Sequence'", None),
    (iter([1.0]), "'list_iterator' object cannot be converted to 'Sequence'", None),
    (None, "'NoneType' object cannot be converted to 'Sequence'", None),
    (NotSeq(), "'NotSeq' object cannot be converted to 'Sequence'", None),
    ([1, "x"], "must be real number, not str", "'str' object cannot be interpreted as an integer"),
    ([1, None], "must be real number, not NoneType", "'NoneType' object cannot be interpreted as an integer"),
    ([7.0, 2], None, "'float' object cannot be interpreted as an integer"),
    ([1, 2**63], None, OverflowError), ([MIN - 1], None, OverflowError),
]


def conversion_calls(name, args, s=-2.5):
    t = Tesmarmath(s)
    return [(lambda: getattr(tm, name)(args), None), (lambda: getattr(t, name)(args), t)]


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("args, message, int_message", REFUSED)
def test_refused_arguments(name, args, message, int_message, no_leak):
    if name == "int_div_of":
        message = int_message or message
    if message is None:
        return  # an ordinary item for this kind of list
    kind = OverflowError if message is OverflowError else TypeError
    for call, t in conversion_calls(name, args):
        with pytest.raises(kind) as caught:
            call()
        assert caught.type is kind
        if kind is TypeError:
            assert caught.value.args == (f"argument 'args': {message}",)
        else:  # CPython's own error, not wrapped
            assert not str(caught.value).startswith("argument")
        assert t is None or same(t.get_number(), -2.5)
        no_leak(call, rounds=500)


class Item:
    """Converts to `value`, after running `effect` (which may raise)."""

    def __init__(self, value, effect=lambda: None):
        self.value, self.effect = value, effect

    def __float__(self):
        self.effect()
        return float(self.value)

    def __index__(self):
        self.effect()
        return int(self.value)


@pytest.mark.parametrize("name", NAMES)
def test_item_failing_midway_stops_the_call(name, no_leak):
    seen, raised = [], []

    def fail():
        raised[:] = [LookupError("boom")]
        raise raised[0]

    items = [Item(4, lambda: seen.append(0)), Item(2, fail), Item(1, lambda: seen.append(2))]
    for call, t in conversion_calls(name, items):
        seen.clear()
        with pytest.raises(LookupError) as caught:
            call()
        assert caught.value is raised[0] and seen == [0]  # passed on unchanged; later items untouched
        assert t is None or same(t.get_number(), -2.5)
        no_leak(call)


MUTATIONS = {  # what an item's conversion does to the list it sits in
    "clear": lambda xs: xs.clear(),
    "append": lambda xs: xs.append(7),
    "replace later": lambda xs: xs.__setitem__(-1, 9),
    "drop earlier": lambda xs: xs.pop(0),
    "insert front": lambda xs: xs.insert(0, 11),
    "grow much": lambda xs: xs.extend([1] * 50),
}


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("mutate", MUTATIONS.values(), ids=MUTATIONS.keys())
def test_list_mutated_during_conversion_reads_as_its_iterator_would(name, mutate, no_leak):
    def make():
        xs, fired = [5, 1, 2, 4], []

        def once():  # an item re-read after "insert front" must not grow the list forever
            if not fired:
                fired.append(mutate(xs))

        xs.insert(1, Item(3, once))  # the list holds the only reference to the item
        return xs

    convert = int if name == "int_div_of" else float
    want_items = [convert(x) for x in make()]
    assert same(getattr(tm, name)(make()), module_oracle(name, want_items))
    assert same(call_method(3.0, name, make()), method_oracle(name, 3.0, want_items))
    no_leak(lambda: getattr(tm, name)(make()), rounds=500)


class Vanishing:
    def __init__(self, home):
        self.home = home

    def __float__(self):
        self.home.clear()  # after this only the running call holds the item
        return "x"


@pytest.mark.parametrize("surface", [tm, Tesmarmath(2.0)], ids=["module", "method"])
def test_item_that_drops_itself_from_the_list(surface, no_leak):
    def call():
        xs = [1.0]
        xs.append(Vanishing(xs))
        surface.sum_of(xs)

    with pytest.raises(TypeError) as caught:  # the message is made after the call returned
        call()
    assert caught.value.args == ("argument 'args': Vanishing.__float__ returned non-float (type str)",)
    no_leak(call, rounds=500)


@pytest.mark.parametrize("name", NAMES)
def test_reentry_from_an_item_meets_the_borrow_flag(name):
    t, seen = Tesmarmath(8.0), []

    def reenter():
        for call in (t.get_number, lambda: t.sum_of([]), lambda: getattr(t, name)([Item(1, seen.clear)])):
            try:
                call()
            except RuntimeError as e:
                seen.append(e.args)

    r = getattr(t, name)([Item(2, reenter)])
    assert seen == [("Already mutably borrowed",), ("Already borrowed",), ("Already borrowed",)]
    assert same(r.get_number(), method_oracle(name, 8.0, [2])) and same(t.get_number(), r.get_number())

    with pytest.raises(RuntimeError, match="^Already borrowed$"):  # escaping: receiver untouched, released
        getattr(t, name)([Item(2, lambda: t.mult_of([2]))])
    assert same(t.get_number(), r.get_number())
    assert t.mult_of([1]).get_number() == t.get_number()


@pytest.mark.parametrize("name", NAMES)
def test_binding(name, no_leak):
    f, t = getattr(tm, name), Tesmarmath(1.5)
    m = getattr(t, name)
    cases = [
        (lambda: f(), f"{name}() missing 1 required positional argument: 'args'"),
        (lambda: f([], []), f"{name}() takes 1 positional arguments but 2 were given"),
        (lambda: f(x=[]), f"{name}() got an unexpected keyword argument 'x'"),
        (lambda: f([], args=[]), f"{name}() got multiple values for argument 'args'"),
        (lambda: m(), f"Tesmarmath.{name}() missing 1 required positional argument: 'args'"),
        (lambda: m([], [1]), f"Tesmarmath.{name}() takes 1 positional arguments but 2 were given"),
        (lambda: m([], arg=[1]), f"Tesmarmath.{name}() got an unexpected keyword argument 'arg'"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as caught:
            call()
        assert caught.type is TypeError and caught.value.args == (message,)
        no_leak(call, rounds=500)
    assert t.get_number() == 1.5
    assert same(f(args=[6, 3]), module_oracle(name, [6, 3]))
    assert same(m(args=[6, 3]).get_number(), method_oracle(name, 1.5, [6, 3]))
    assert f.__text_signature__ == "(args)" and getattr(Tesmarmath, name).__text_signature__ == "($self, args)"


def test_module_order():
    assert tm.__all__[1:6] == NAMES
    assert [k for k in vars(tm) if k in NAMES] == NAMES
