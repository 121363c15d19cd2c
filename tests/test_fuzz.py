"""Hostile arguments for every callable: a __float__ or __index__ that returns junk or raises, a
__len__ that lies, items or an iterator that fail midway. Only documented exceptions or the
caller's own come out; a failed method leaves its receiver bit for bit; the receiver ends free.
The coverage-guided fuzzer's corpus is replayed here too."""

import importlib
import sys
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from registry import (
    BY_NAME,
    EMPTY,
    FLOATS,
    INTS,
    FloatSub,
    Hooked,
    Index,
    IntSub,
    Real,
    Seq,
    SubTypeError,
    key,
    raising,
)
from tesmar_math import Tesmarmath


class Iterable(Seq):
    """A sequence whose __iter__ runs `effect`, then returns `given` (an iterator or junk)."""

    def __init__(self, items, given, effect):
        super().__init__(items)
        self.iterator = Hooked(given, effect)

    def __iter__(self):
        return self.iterator.converted()


ODD = [1j, Decimal("1.5"), Fraction(1, 3), Fraction(10**400), bytearray(b"\x01"), object(), None]
ODD += ["3", b"\xff", [], {}, set(), range(2), FloatSub(2.5), IntSub(-(2**63)), True]
# The messages of the caller's own errors (registry.Seq's among them): they may come out as is.
OWN = "hostile"
CALLERS_OWN = [(OWN,), ("no length",)]
ERRORS = [ValueError, TypeError, SubTypeError, OverflowError, StopIteration, KeyboardInterrupt]
effects = st.none() | st.builds(raising, st.sampled_from(ERRORS), st.just(OWN))
junk = FLOATS | INTS | st.sampled_from(ODD)
scalars = junk | st.builds(Real, junk, effects) | st.builds(Index, junk, effects)
scalars |= st.builds(Tesmarmath, FLOATS)
items = st.lists(scalars, max_size=5)
hostile = scalars | items | items.map(tuple) | items.map(iter) | st.binary(max_size=3)
hostile |= st.text(max_size=2) | st.builds(Seq, items, junk | st.sampled_from(ERRORS))
hostile |= st.builds(Iterable, items, items.map(iter) | junk, effects)


# A value of the kind by one of its routes, drawn by index: arrays cannot be hashed.
def any_form(kind):
    forms = kind.values.map(kind.forms)
    return forms.flatmap(lambda f: st.integers(0, len(f) - 1).map(f.__getitem__))


# Mostly one value per parameter, by position or keyword, of its kind (two times in three) or
# hostile; sometimes any shape at all.
@st.composite
def arguments(draw, entry):
    names = [n for n, _, _ in entry.params]
    if draw(st.integers(0, 3)) == 0:
        keywords = st.dictionaries(st.sampled_from([*names, "x", "é"]), hostile, max_size=2)
        return tuple(draw(st.lists(hostile, max_size=3))), draw(keywords)
    count = draw(st.integers(sum(d is EMPTY for *_, d in entry.params), len(names)))
    sources = [st.sampled_from([hostile, any_form(k), any_form(k)]) for _, k, _ in entry.params]
    chosen = [draw(draw(source)) for source in sources[:count]]  # a source, then a value
    split = draw(st.integers(0, count))
    return tuple(chosen[:split]), dict(zip(names[split:count], chosen[split:], strict=True))


# A TypeError names the callable or the parameter; an operation's own ValueError or
# ZeroDivisionError is quoted word for word in the callable's docstring in the stub.
def check_documented(error, entry):
    message = str(error)
    if type(error) is TypeError:
        params = tuple(f"argument '{name}': " for name, _, _ in entry.params)
        assert message.startswith((f"{entry} ", *params)), repr(error)
    elif type(error) is not OverflowError:
        assert type(error) in (ValueError, ZeroDivisionError), repr(error)
        assert f'"{message}"' in entry.doc, (
            f'{entry} raised {type(error).__name__} "{message}", which its docstring does not '
            "quote: document it, word for word, in stubs/tesmar_math-stubs/__init__.pyi"
        )


# CPython warns when __float__ or __index__ returns a subclass; hostile classes do it on purpose.
@pytest.mark.filterwarnings("ignore:.* returned non-(float|int):DeprecationWarning")
@pytest.mark.parametrize("name", BY_NAME)
@settings(max_examples=max(20, settings().max_examples // 5))
@given(data=st.data(), stored=FLOATS)
def test_hostile_calls(name, data, stored):
    entry, t = BY_NAME[name], Tesmarmath(stored)  # a bystander for the functions
    args, kwargs = data.draw(arguments(entry))
    try:
        result = entry.on(t)(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001
        if error.args not in CALLERS_OWN:
            check_documented(error, entry)
        assert key(t.get_number()) == key(stored), "a failed call changed its receiver"
    else:
        assert type(result) is dict(float=float, int=int, bool=bool).get(entry.returns, Tesmarmath)
        if entry.returns == "Tesmarmath":
            assert result is not t and key(result.get_number()) == key(t.get_number())
        elif entry.method:
            assert key(t.get_number()) == key(stored if entry.reads else float(result)), (
                f"{entry}: a method marked 'Read only.' in its stub docstring keeps the stored "
                "number, any other stores its result"
            )
    assert key(t.mult_of([]).get_number()) == key(t.get_number())  # the receiver is free


# Every input that the coverage-guided fuzzer kept (tests/fuzz/corpus, minimised by
# `make fuzz-merge`) goes through its harness, fuzz/harness.py, which checks each call as it
# does under the fuzzer, against this build: what it once reached stays reached and checked.
CORPUS = Path(__file__).parent / "fuzz/corpus"


@pytest.mark.parametrize("path", sorted(CORPUS.iterdir()), ids=lambda path: path.name[:10])
def test_fuzz_corpus_replays(path):
    pytest.importorskip("atheris")  # the harness's input reader; no wheel for every platform
    sys.path.insert(0, str(Path(__file__).parents[1] / "fuzz"))
    try:
        harness = importlib.import_module("harness")  # it imports this module: not at the top
    finally:
        sys.path.pop(0)
    harness.one_input(path.read_bytes())
