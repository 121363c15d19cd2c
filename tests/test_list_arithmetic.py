# The five folds by their definition, one item at a time: the fold of a list is the fold of all but
# its last item, then one operation as Python rounds it (exact integers, truncating, for
# int_div_of); each method is its documented formula over the function.

import math

import pytest
import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from registry import FLOATS, INTS, Index, Real, Seq, Tesmarmath, examples, outcome, saturate


def truncated(a, b):
    quotient = abs(a) // abs(b)  # exact; the sign makes it truncate toward zero
    return quotient if (a < 0) == (b < 0) else -quotient


EDGES = st.sampled_from([2.0**63, -(2.0**63)])  # where the saturating conversion ends
EMPTY = {"sum_of": -0.0, "dif_of": 0.0, "div_of": 0.0, "int_div_of": 0, "mult_of": 1.0}
FOLD_STEP = {  # a list's fold by the module's fold of all its items but the last
    "sum_of": lambda head, last: tm.sum_of(head) + last,
    "dif_of": lambda head, last: tm.dif_of(head) - last if head else last,
    "div_of": lambda head, last: tm.div_of(head) / last if head else last,
    "int_div_of": lambda head, last: truncated(tm.int_div_of(head), last) if head else last,
    "mult_of": lambda head, last: tm.mult_of(head) * last,
}
STORES = {  # what the method stores, by the function, from the stored number s
    "sum_of": lambda s, items: tm.sum_of(items) + s,
    "dif_of": lambda s, items: s - tm.dif_of(items) if items else s,
    "div_of": lambda s, items: tm.div_of([s, *items]),
    "int_div_of": lambda s, items: float(tm.int_div_of([saturate(s), *items])) if items else s,
    "mult_of": lambda s, items: tm.mult_of([s, *items]),
}


# The formula's value; Python's zero division stands for the module's.
def expected(formula, message, *args):
    try:
        return formula(*args)
    except ZeroDivisionError:
        raise ZeroDivisionError(message) from None


@pytest.mark.parametrize("name", EMPTY)
@given(floats=st.lists(FLOATS, max_size=6), ints=st.lists(INTS, max_size=6))
@examples(([-0.0], []), ([1e16, 1.0, 1.0], []), ([1.0, 1.0, 1e16], []))
@examples(([10.0, 3.0, 2.0], []), ([5.0, 2.0, -0.0], []), ([0.0, 5.0, math.nan], []))
@examples(([], [-(2**63), -1]), ([], [-7, 2]), ([], [-(2**63), -1, -1]), ([], [7, 0]))
@examples(([], [3]), ([], []))
def test_each_item_is_one_more_operation(name, floats, ints):
    items = ints if name == "int_div_of" else floats
    if items:
        want = outcome(expected, FOLD_STEP[name], "Division by zero!", items[:-1], items[-1])
    else:
        want = outcome(EMPTY.get, name)
    assert outcome(getattr(tm, name), items) == want


@pytest.mark.parametrize("name", EMPTY)
@given(floats=st.lists(FLOATS, max_size=6), ints=st.lists(INTS, max_size=6), s=FLOATS | EDGES)
@examples(([], [], -0.0), ([-0.0], [], -0.0), ([1e16, 1.0, 1.0], [], 1.0), ([], [], 2.5))
@examples(([1.0, 1.0, 1e16], [], 1e16), ([10.0, 3.0, 2.0], [], 10.0), ([5.0, 2.0, -0.0], [], 7.0))
@examples(([0.0, 5.0, math.nan], [], 0.0), ([], [-(2**63), -1], -1e300), ([], [-7, 2], -7.5))
@examples(([], [-(2**63), -1, -1], 1e300), ([], [7, 0], math.nan), ([], [3], 2.0**63 - 1024))
def test_each_method_is_its_formula_over_the_function(name, floats, ints, s):
    items = ints if name == "int_div_of" else floats
    want = outcome(lambda: Tesmarmath(expected(STORES[name], "Can't divide by zero!", s, items)))
    assert outcome(getattr(Tesmarmath(s), name), items) == want


CHANGES = {  # what converting an item does to the list being read
    "clear": list.clear,
    "drop earlier": lambda items: items.pop(0),
    "replace later": lambda items: items.__setitem__(-1, 9),
    "grow": lambda items: items.extend([1] * 50),
}


# [5, 3, 1, 2, 4] whose 3 changes the list when converted; the reader holds the only reference to
# the list.
def changing_list(number, three, change):
    items = [5, 1, 2, 4]
    items.insert(1, number(three, lambda: change(items)))
    return items


@pytest.mark.parametrize("change", CHANGES.values(), ids=list(CHANGES))
@pytest.mark.parametrize("name", EMPTY)
@pytest.mark.parametrize("method", [False, True], ids=["function", "method"])
def test_a_list_changed_while_read_reads_as_its_iterator_would(method, name, change):
    number, convert = (Index, int) if name == "int_div_of" else (Real, float)
    read = getattr(Tesmarmath(3.0) if method else tm, name)
    iterated = getattr(Tesmarmath(3.0) if method else tm, name)
    items = [convert(item) for item in changing_list(number, convert(3), change)]
    assert outcome(read, changing_list(number, convert(3), change)) == outcome(iterated, items)


@pytest.mark.parametrize("call", [tm.sum_of, Tesmarmath(2.0).sum_of])
def test_an_item_that_drops_itself_from_the_list(call):
    items = [1.0]
    items.append(Real("x", items.clear))  # afterwards only the running call holds the item
    message = "argument 'args': Real.__float__ returned non-float (type str)"
    assert outcome(call, items) == (TypeError, (message,))


# A failing item ends the reading: no item after it is converted, the first item included, in a
# list or in a sequence read by iteration.
@pytest.mark.parametrize("form", [list, Seq], ids=["list", "iterated"])
@pytest.mark.parametrize("name", EMPTY)
def test_no_item_after_a_failing_one_is_converted(name, form):
    number = Index if name == "int_div_of" else Real
    converted = []
    items = form([number("x"), number(2, lambda: converted.append(True)), 3])
    assert outcome(getattr(tm, name), items)[0] is TypeError
    assert converted == []
