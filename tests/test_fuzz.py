"""Hostile arguments for every callable: numbers whose __float__ or __index__
returns junk, raises or calls back into the receiver; sequences whose
__len__ lies, whose items or iterator fail midway. The interpreter
survives, only documented exceptions or the caller's own come out, a failed
method leaves its receiver bit for bit, a successful one holds what it
returned, and the borrow flag ends free."""

from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from registry import BY_NAME, EMPTY, FLOATS, INTS, STUB_PATH, FloatSub, IntSub, Tesmarmath, key

DOCUMENTED = " ".join(
    STUB_PATH.read_text().split()
)  # the stub names every message an operation raises
INNER = {
    "get_number": True,
    "__repr__": True,
    "is_odd": True,
    "square": False,
    "cos": False,
}  # name: reads?
RAISED, MET, RECEIVER = [], [], [None]


def act(plan):
    """What a hostile dunder does: return something, raise, or first call
    back into the receiver, letting its refusal escape or not."""
    kind, what = plan
    if kind == "raise":
        RAISED.append(what("hostile"))
        raise RAISED[-1]
    if kind == "call":
        try:
            getattr(RECEIVER[0], what[0])()
            MET.append((what[0], None))
        except RuntimeError as error:
            MET.append((what[0], str(error)))
            if what[1]:
                RAISED.append(error)
                raise
        return 1.5
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


Iterable = type("Iterable", (Sequence,), {"__iter__": lambda self: act(self.plan)})
ODD = st.sampled_from(
    [
        1j,
        Decimal("1.5"),
        Fraction(1, 3),
        Fraction(10**400),
        bytearray(b"\x01"),
        object(),
        None,
        "3",
        b"\xff",
        [],
        {},
        set(),
        range(2),
        FloatSub(2.5),
        IntSub(-(2**63)),
        True,
    ]
)
plans = (
    st.tuples(st.just("return"), FLOATS | INTS | ODD)
    | st.tuples(
        st.just("raise"),
        st.sampled_from(
            [
                ValueError,
                TypeError,
                type("Sub", (TypeError,), {}),
                OverflowError,
                StopIteration,
                KeyboardInterrupt,
            ]
        ),
    )
    | st.tuples(st.just("call"), st.tuples(st.sampled_from(sorted(INNER)), st.booleans()))
)
callback = st.builds(
    Number, st.tuples(st.just("call"), st.tuples(st.sampled_from(sorted(INNER)), st.booleans()))
)
scalars = FLOATS | INTS | ODD | st.builds(Number, plans) | st.builds(Tesmarmath, FLOATS)
items = st.lists(scalars, max_size=5)
hostile = (
    scalars
    | items
    | items.map(tuple)
    | st.binary(max_size=3)
    | st.text(max_size=2)
    | items.map(iter)
    | st.builds(Sequence, items, plans, st.integers(-1, 5), plans)
    | st.builds(Iterable, items, plans, st.just(0), plans)
)


def any_form(kind):
    """A value of the kind by one of its routes, drawn by index: arrays cannot be hashed."""
    return kind.values.map(kind.forms).flatmap(
        lambda f: st.integers(0, len(f) - 1).map(f.__getitem__)
    )


@st.composite
def arguments(draw, entry):
    """Mostly one value per parameter, by position or keyword, suited to
    its kind or hostile; sometimes any shape at all."""
    names = [n for n, _, _ in entry.params]
    if draw(st.integers(0, 3)) == 0:
        return (
            tuple(draw(st.lists(hostile, max_size=3))),
            draw(st.dictionaries(st.sampled_from([*names, "x", "é"]), hostile, max_size=2)),
        )
    count = draw(st.integers(sum(d is EMPTY for *_, d in entry.params), len(names)))
    chosen = [
        draw(
            st.sampled_from(
                [
                    hostile,
                    st.lists(callback | FLOATS, min_size=1, max_size=3)
                    if isinstance(kind.sample, list)
                    else callback,
                    *[any_form(kind)] * 2,
                ]
            ).flatmap(lambda s: s)
        )
        for _, kind, _ in entry.params[:count]
    ]
    split = draw(st.integers(0, count))
    return tuple(chosen[:split]), dict(zip(names[split:count], chosen[split:]))


def documented(error, entry):
    message = str(error)
    if type(error) is TypeError:
        return message.startswith(entry.call_name + " ") or any(
            message.startswith(f"argument '{name}': ") for name, _, _ in entry.params
        )
    return type(error) is OverflowError or (
        type(error) in (ValueError, ZeroDivisionError) and f'"{message}"' in DOCUMENTED
    )


@pytest.mark.parametrize("name", BY_NAME)
@settings(max_examples=max(20, settings().max_examples // 5))
@given(data=st.data(), stored=FLOATS)
def test_hostile_calls(name, data, stored):
    entry = BY_NAME[name]
    t = RECEIVER[0] = Tesmarmath(stored)  # a bystander for the functions
    args, kwargs = data.draw(arguments(entry))
    RAISED.clear()
    MET.clear()
    try:
        result = entry.on(t)(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001
        assert any(error is raised for raised in RAISED) or documented(error, entry), repr(error)
        assert not entry.method or key(t.get_number()) == key(stored), (
            "a failed call changed its receiver"
        )
    else:
        assert type(result) is {"float": float, "int": int, "bool": bool}.get(
            entry.returns, Tesmarmath
        )
        if entry.returns == "Tesmarmath":
            assert result is not t and key(result.get_number()) == key(t.get_number())
        elif entry.method:
            assert key(t.get_number()) == key(stored if entry.reads else float(result))
    conflict = {True: "Already mutably borrowed", False: "Already borrowed"}
    assert all(met == (conflict[INNER[inner]] if entry.method else None) for inner, met in MET), MET
    assert key(t.mult_of([]).get_number()) == key(t.get_number())  # the flag is free
