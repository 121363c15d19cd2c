"""The module as Python sees it: names, their order and the stub against the runtime; the
class's facts; re-entry into a held instance; every callable's binding and conversion messages;
reimport and sub-interpreters."""

import ast
import ctypes
import importlib
import itertools
import operator
import re
import struct
import sys
import threading
import weakref
from functools import partial

import pytest
import registry
import tesmar_math as tm
from registry import EMPTY, EVERY, FUNCTIONS, INNER, METHODS, STUB, Index, Real, key, outcome
from tesmar_math import Tesmarmath

CONSTANTS = {"number_pi": 0x400921FB54442D18, "number_e": 0x4005BF0A8B145769}
CONSTANTS |= {"infinity": 0x7FF0000000000000}
ALL = ["Tesmarmath", *(e.name for e in FUNCTIONS), *CONSTANTS]


def public(names):
    return [n for n in names if not n.startswith("__")]


def test_names_their_order_and_the_stub():
    assert next(ast.literal_eval(n.value) for n in STUB.body if isinstance(n, ast.Assign)) == ALL
    assert tm.__all__ == ALL == public(vars(tm)) and tm.__doc__ == ""
    assert list(vars(tm)).index("__all__") < list(vars(tm)).index("Tesmarmath")  # listed first
    assert public(vars(Tesmarmath)) == [e.name for e in METHODS]
    assert not hasattr(tm, "power_of_2") and not hasattr(Tesmarmath, "is_integer")
    assert [ast.unparse(d) for d in registry.STUB_CLASS.decorator_list] == ["final"]
    constants = [n for n in STUB.body if isinstance(n, ast.AnnAssign)]
    typed = {ast.unparse(n.target): ast.unparse(n.annotation) for n in constants}
    assert typed == dict.fromkeys(CONSTANTS, "Final[float]")
    for name, bits in CONSTANTS.items():
        value = getattr(tm, name)
        assert type(value) is float and key(value) == struct.pack("<Q", bits), name


@pytest.mark.parametrize("entry", FUNCTIONS + METHODS, ids=repr)
def test_signature_matches_the_stub(entry):
    runtime = vars(Tesmarmath)[entry.name] if entry.method else getattr(tm, entry.name)
    assert entry.doc, "the stub documents every callable"
    params = [n if d is EMPTY else f"{n}={d}" for n, _, d in entry.params]
    # inspect.signature reads the text signature: names, defaults, every one by position or keyword
    assert runtime.__text_signature__ == f"({', '.join(['$self'] * entry.method + params)})"
    assert runtime.__doc__ is None and runtime.__qualname__ == repr(entry).removesuffix("()")
    owner = (runtime.__objclass__,) if entry.method else (runtime.__module__, runtime.__self__)
    assert owner == ((Tesmarmath,) if entry.method else ("tesmar_math", tm))


def test_class_facts():
    T, t = Tesmarmath, Tesmarmath(2.5)
    assert (T.__module__, T.__qualname__) == ("builtins", "Tesmarmath")
    assert repr(T) == "<class 'builtins.Tesmarmath'>" and T.__mro__ == (T, object)
    assert T.__text_signature__ == "(number)" and T.__doc__ == ""
    # A double and the borrow flag; neither a base type nor tracked by the collector.
    assert T.__basicsize__ == object.__basicsize__ + 16 and T.__itemsize__ == 0
    assert T.__flags__ & (1 << 10 | 1 << 14) == 0
    with pytest.raises(TypeError, match="^type 'builtins.Tesmarmath' is not an acceptable base"):
        type("Sub", (T,), {})
    uses = [(vars, t), (weakref.ref, t), (float, t), (int, t), (operator.add, t, 1)]
    uses += [(operator.lt, t, t), (getattr, t, "number"), (setattr, t, "number", 1.0)]
    for use, *args in uses:
        with pytest.raises((AttributeError, TypeError)):
            use(*args)
    assert t != T(2.5) and hash(t) == object.__hash__(t) and t.get_number() == 2.5
    bits = 0x7FF8_0000_0000_1234  # a NaN keeps its payload
    assert struct.pack("<d", T(registry.double(bits)).get_number()) == struct.pack("<Q", bits)
    with pytest.raises(TypeError):  # CPython's descriptor refuses a receiver of another type
        T.get_number(2.5)
    assert type(u := t.square()) is T and u is not t and t.get_number() == u.get_number() == 6.25


BORROWED = {True: "Already mutably borrowed", False: "Already borrowed"}  # by: only reads?


# Each callable calls `inner` on its receiver as its first argument converts: a method holds it
# (shared with readers, if it only reads), a function holds none. The refusal, caught, lets the
# call finish as usual; escaping, the receiver keeps its number; it ends free. Another thread
# meets the same refusal: the module never releases the interpreter lock, so that thread runs
# only where Python code does, as a callback would.
@pytest.mark.parametrize("inner", INNER)
def test_calls_back_into_a_held_receiver_are_refused(inner):
    reads = INNER[inner][1]
    for outer in (e for e in EVERY if e.params):
        want = BORROWED[reads] if outer.method and not (outer.reads and reads) else None
        usual = outcome(outer.on(plain := Tesmarmath(2.5)), *outer.sample())
        for escape in (False, True):
            t, met, _, call = registry.reentry(outer, inner, escape)
            got = outcome(call)
            assert met == [want], (
                f"{outer} called back into {inner}: met {met[0]!r}, not {want!r}. A method "
                f"that only reads says '{registry.READ_ONLY}' in its stub docstring, no other does"
            )
            if outer.method:
                refused = escape and want is not None
                assert got == ((RuntimeError, (want,)) if refused else usual)
                stored = key(2.5 if refused else plain.get_number())
                assert key(t.get_number()) == stored  # and the receiver is free:
                assert outcome(t.mult_of, []) == (Tesmarmath, stored)
    t, entered, release, results = Tesmarmath(10.0), threading.Event(), threading.Event(), []

    def wait():
        entered.set()
        assert release.wait(10)  # waiting hands the interpreter over

    worker = threading.Thread(target=lambda: results.append(t.div_of([Real(4.0, wait)])))
    worker.start()
    try:
        assert entered.wait(10)
        assert outcome(registry.call_inner, inner, t) == (RuntimeError, (BORROWED[reads],))
        assert Tesmarmath(3.0).square().get_number() == tm.square(3.0) == 9.0  # others are free
    finally:
        release.set()
        worker.join()
    assert t.get_number() == results[0].get_number() == 2.5 and t.mult_of([2]).get_number() == 5.0


# A Python function of the same signature: CPython's binding is the messages' oracle.
def mirror(entry):
    params = ", ".join(n if d is EMPTY else f"{n}={d}" for n, _, d in entry.params)
    code = f"def {entry.name}({params}): pass"
    if repr(entry).startswith("Tesmarmath."):
        code = f"class Tesmarmath:\n    @staticmethod\n    {code}"
    exec(code, space := {})  # noqa: S102
    return getattr(space.get("Tesmarmath"), entry.name, None) or space[entry.name]


def binding_message(call, *args, **kwargs):
    got = outcome(call, *args, **kwargs)
    return got[1][0] if got[0] is TypeError else None


# Every count of positional arguments with every order of keywords: the message is CPython's, but a
# surplus of positional ones comes first and "arguments" stays plural.
@pytest.mark.parametrize("entry", [e for e in EVERY if e.params], ids=repr)
def test_binding_messages_read_like_pythons_own(entry):
    oracle, names = mirror(entry), [n for n, _, _ in entry.params]
    values = dict(zip(names, entry.sample(), strict=True))
    values |= dict.fromkeys(["x", "é", "\udcff"], 1.0)
    for count in range(len(names) + 2):
        args = (entry.sample() + (1.0, 1.0))[:count]
        for size in range(3):
            for keywords in itertools.permutations(values, size):
                kwargs = {k: values[k] for k in keywords}
                want = binding_message(oracle, *args, **({} if count > len(names) else kwargs))
                got = binding_message(entry.on(t := Tesmarmath(2.5)), *args, **kwargs)
                assert got == (want and want.replace("argument but", "arguments but")), kwargs
                assert key(t.get_number()) == key(2.5) or want is None


# A TypeError names the parameter, any other error passes as it is; later parameters are not looked
# at and the receiver is unchanged.
@pytest.mark.parametrize("entry", [e for e in EVERY if e.params], ids=repr)
def test_conversion_errors_name_the_parameter(entry):
    for i, (name, kind, _) in enumerate(entry.params):
        for value, exception, message in kind.refused:
            looked, t = [], Tesmarmath(2.5)
            look = partial(looked.append, name)
            later = [registry.hooked(k.sample, look) for _, k, _ in entry.params[i + 1 :]]
            prefix = f"argument '{name}': " if exception is TypeError else ""
            got = outcome(entry.on(t), *entry.sample()[:i], value, *later)
            assert got == (exception, (prefix + message,))
            assert not looked and key(t.get_number()) == key(2.5)


class Unprintable:
    def __str__(self):
        raise registry.Boom("no text")


def test_wrapping_keeps_the_cause_and_error_marks_are_values():
    cause = KeyError("why")

    def fail():
        raise TypeError("not today") from cause

    with pytest.raises(TypeError) as caught:
        tm.square(Real(0.0, fail))
    assert str(caught.value) == "argument 'number': not today" and caught.value.__cause__ is cause
    with pytest.raises(registry.Boom, match="^no text$"):  # a message that cannot become text
        tm.square(Real(0.0, registry.raising(TypeError, Unprintable())))
    # The C API's error marks are values when nothing is raised.
    assert tm.square(Real(-1.0)) == 1.0 and tm.is_odd(Index(-1)) and tm.cos(0.0, 2**64 - 1) == 1.0


def test_reimport_and_a_second_entry_call_return_the_built_module():
    tm.user_mark = mark = object()
    saved = sys.modules.pop("tesmar_math")
    # The module's own entry function, called again as an importer would.
    entry = ctypes.PYFUNCTYPE(ctypes.py_object)(("PyInit_tesmar_math", ctypes.PyDLL(tm.__file__)))
    try:
        assert importlib.import_module("tesmar_math") is saved
        before = sys.getrefcount(tm)
        assert all(entry() is tm for _ in range(3)) and sys.getrefcount(tm) == before
        assert tm.user_mark is mark and tm.__all__ == ALL and tm.Tesmarmath is Tesmarmath
    finally:
        sys.modules["tesmar_math"] = saved
        del tm.user_mark


def test_sub_interpreters_are_refused():
    import _interpreters as interpreters  # noqa: PLC0415

    iid = interpreters.create("legacy")  # lets a single-phase module reach its own init
    try:
        for _ in range(2):
            failure = interpreters.exec(iid, "import tesmar_math")
            assert failure.type.__name__ == "ImportError"
            assert re.search(r"(?i)sub-?interpreters", failure.msg)
    finally:
        interpreters.destroy(iid)
    assert tm.floor(2.5) == 2 and sys.modules["tesmar_math"] is tm
