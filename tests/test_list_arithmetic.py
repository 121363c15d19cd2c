"""The five folds, left to right and one rounded operation at a time, each
surface in its documented order: against Python's own float arithmetic in
the same order, and against exact integers for int_div_of."""

import functools
import math
import operator

import pytest
import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import FLOATS, INTS, Index, Real, Tesmarmath, examples, key, outcome, saturate

NAMES = ["sum_of", "dif_of", "div_of", "int_div_of", "mult_of"]


def int_quotient(a, b):
    q = abs(a) // abs(b)  # exact; the sign makes it truncate toward zero
    return q if (a < 0) == (b < 0) else -q


OPERATORS = {
    "dif_of": operator.sub,
    "div_of": operator.truediv,
    "int_div_of": int_quotient,
    "mult_of": operator.mul,
}


def function_fold(name, items):
    if name == "sum_of":
        return functools.reduce(operator.add, items, -0.0)
    if not items:
        return {"dif_of": 0.0, "div_of": 0.0, "int_div_of": 0, "mult_of": 1.0}[name]
    return functools.reduce(OPERATORS[name], items[1:], items[0])


def method_fold(name, s, items):
    if not items and name in ("dif_of", "int_div_of"):
        return s
    if name == "sum_of":
        return function_fold(name, items) + s
    if name == "dif_of":
        return s - function_fold(name, items)
    start = saturate(s) if name == "int_div_of" else s
    return float(functools.reduce(OPERATORS[name], items, start))


def expect(fold, message, result):
    """The fold's outcome as the module reports it; Python's own
    ZeroDivisionError stands for the module's zero divisor."""
    try:
        value = fold()
    except ZeroDivisionError:
        return ZeroDivisionError, (message,)
    return result, value if result is int else key(value)


def check(name, items, s):
    want = expect(
        lambda: function_fold(name, items),
        "Division by zero!",
        int if name == "int_div_of" else float,
    )
    assert outcome(getattr(tm, name), items) == want
    t = Tesmarmath(s)
    got = outcome(getattr(t, name), items)
    assert got == expect(lambda: method_fold(name, s, items), "Can't divide by zero!", Tesmarmath)
    assert key(t.get_number()) == (got[1] if got[0] is Tesmarmath else key(s))


@pytest.mark.parametrize("name", ["sum_of", "dif_of", "div_of", "mult_of"])
@given(items=st.lists(FLOATS, max_size=6), s=FLOATS)
@examples(
    ([], -0.0),
    ([-0.0], -0.0),
    ([1e16, 1.0, 1.0], 1.0),
    ([1.0, 1.0, 1e16], 1e16),
    ([10.0, 3.0, 2.0], 10.0),
    ([5.0, 2.0, -0.0], 7.0),
    ([0.0, 5.0, math.nan], 0.0),
)
def test_float_folds_follow_python_arithmetic_in_order(name, items, s):
    check(name, items, s)


@given(
    items=st.lists(INTS, max_size=6),
    s=FLOATS | st.sampled_from([2.0**63, -(2.0**63), 9223372036854774784.0]),
)
@examples(
    ([-(2**63), -1], -1e300),
    ([-(2**63), -1, -1], 1e300),
    ([-7, 2], -7.5),
    ([7, 0], math.nan),
    ([], 2.5),
)
def test_int_div_of_is_exact_and_truncates(items, s):
    check("int_div_of", items, s)


def fail(xs):
    raise LookupError("boom")


CHANGES = {
    "clear": list.clear,
    "append": lambda xs: xs.append(7),
    "drop earlier": lambda xs: xs.pop(0),
    "replace later": lambda xs: xs.__setitem__(-1, 9),
    "insert front": lambda xs: xs.insert(0, 11),
    "grow": lambda xs: xs.extend([1] * 50),
    "fail": fail,
}


@pytest.mark.parametrize("change", CHANGES)
@pytest.mark.parametrize("name", NAMES)
def test_a_list_changed_while_read_reads_as_its_iterator_would(name, change):
    number, convert = (Index, int) if name == "int_div_of" else (Real, float)

    def make():
        xs, done = [5, 1, 2, 4], []
        xs.insert(
            1, number(convert(3), lambda: done or done.append(CHANGES[change](xs)))
        )  # the list's only reference
        return xs

    for call in (lambda xs: getattr(tm, name)(xs), lambda xs: getattr(Tesmarmath(3.0), name)(xs)):
        assert outcome(call, make()) == outcome(lambda: call([convert(x) for x in make()]))


@pytest.mark.parametrize("call", [tm.sum_of, Tesmarmath(2.0).sum_of])
def test_an_item_that_drops_itself_from_the_list(call):
    xs = [1.0]
    xs.append(Real("x", xs.clear))  # afterwards only the running call holds the item
    assert outcome(call, xs) == (
        TypeError,
        ("argument 'args': Real.__float__ returned non-float (type str)",),
    )
