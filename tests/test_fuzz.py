"""Hostile arguments for every callable: numbers whose __float__ or __index__ returns junk or
raises; sequences whose __len__ lies, whose items or iterator fail midway. The interpreter
survives, only documented exceptions or the caller's own come out, a failed method leaves its
receiver bit for bit, a successful one holds what it returned, and the receiver ends free.
(Callbacks into the receiver: test_surface.py.)"""

from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from registry import BY_NAME, EMPTY, FLOATS, INTS, STUB_PATH, FloatSub, IntSub, Tesmarmath, key

RAISED = []  # what the hostile objects raised: these may come out as they are


def act(plan):
    """What a hostile dunder does: return something, or raise."""
    behaviour, what = plan
    if behaviour == "raise":
        RAISED.append(what("hostile"))
        raise RAISED[-1]
    return what


class Number:
    def __init__(self, plan):
        self.plan = plan

    def __float__(self):
        return act(self.plan)

    __index__ = __float__


class Sequence:
    def __init__(self, items, length, fail_at, plan):
        self.items, self.length, self.fail_at, self.plan = items, length, fail_at, plan

    def __len__(self):
        return act(self.length)

    def __getitem__(self, i):
        return act(self.plan) if i == self.fail_at else self.items[i]


class Iterable(Sequence):
    def __iter__(self):
        return act(self.plan)


ODD = [1j, Decimal("1.5"), Fraction(1, 3), Fraction(10**400), bytearray(b"\x01"), object()]
ODD += [None, "3", b"\xff", [], {}, set(), range(2), FloatSub(2.5), IntSub(-(2**63)), True]
ERRORS = [ValueError, TypeError, type("Sub", (TypeError,), {}), OverflowError, StopIteration]
plans = st.tuples(st.just("return"), FLOATS | INTS | st.sampled_from(ODD)) | st.tuples(
    st.just("raise"), st.sampled_from([*ERRORS, KeyboardInterrupt])
)
scalars = FLOATS | INTS | st.sampled_from(ODD) | st.builds(Number, plans)
scalars |= st.builds(Tesmarmath, FLOATS)
items = st.lists(scalars, max_size=5)
hostile = scalars | items | items.map(tuple) | st.binary(max_size=3) | st.text(max_size=2)
hostile |= items.map(iter) | st.builds(Sequence, items, plans, st.integers(-1, 5), plans)
hostile |= st.builds(Iterable, items, plans, st.just(0), plans)


def any_form(kind):
    """A value of the kind by one of its routes, drawn by index: arrays cannot be hashed."""
    return kind.values.map(kind.forms).flatmap(
        lambda forms: st.integers(0, len(forms) - 1).map(forms.__getitem__)
    )


def suited_or_hostile(kind):
    """A value of the kind two times in three, a hostile one otherwise."""
    return st.sampled_from([hostile, any_form(kind), any_form(kind)]).flatmap(lambda s: s)


@st.composite
def arguments(draw, entry):
    """Mostly one value per parameter, by position or keyword, suited to its kind or hostile;
    sometimes any shape at all."""
    names = [n for n, _, _ in entry.params]
    if draw(st.integers(0, 3)) == 0:
        keywords = st.dictionaries(st.sampled_from([*names, "x", "é"]), hostile, max_size=2)
        return tuple(draw(st.lists(hostile, max_size=3))), draw(keywords)
    count = draw(st.integers(sum(d is EMPTY for *_, d in entry.params), len(names)))
    chosen = [draw(suited_or_hostile(kind)) for _, kind, _ in entry.params[:count]]
    split = draw(st.integers(0, count))
    return tuple(chosen[:split]), dict(zip(names[split:count], chosen[split:], strict=True))


def check_documented(error, entry):
    """A binding or conversion TypeError names the callable or the parameter; an operation's
    own ValueError or ZeroDivisionError is quoted word for word in the callable's docstring."""
    message = str(error)
    if type(error) is TypeError:
        params = tuple(f"argument '{name}': " for name, _, _ in entry.params)
        assert message.startswith((entry.call_name + " ", *params)), repr(error)
    elif type(error) is not OverflowError:
        assert type(error) in (ValueError, ZeroDivisionError), repr(error)
        assert f'"{message}"' in entry.doc, (
            f'{entry} raised {type(error).__name__} "{message}", which its docstring in '
            f"{STUB_PATH.relative_to(STUB_PATH.parents[2])} does not quote: document it there"
        )


@pytest.mark.parametrize("name", BY_NAME)
@settings(max_examples=max(20, settings().max_examples // 5))
@given(data=st.data(), stored=FLOATS)
def test_hostile_calls(name, data, stored):
    entry = BY_NAME[name]
    t = Tesmarmath(stored)  # a bystander for the functions
    args, kwargs = data.draw(arguments(entry))
    RAISED.clear()
    try:
        result = entry.on(t)(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001
        if not any(error is raised for raised in RAISED):
            check_documented(error, entry)
        assert key(t.get_number()) == key(stored), "a failed call changed its receiver"
    else:
        returns = {"float": float, "int": int, "bool": bool}.get(entry.returns, Tesmarmath)
        assert type(result) is returns
        if entry.returns == "Tesmarmath":
            assert result is not t and key(result.get_number()) == key(t.get_number())
        elif entry.method:
            assert key(t.get_number()) == key(stored if entry.reads else float(result))
    assert key(t.mult_of([]).get_number()) == key(t.get_number())  # the receiver is free
