"""The module as Python sees it: names and their order, the stub against the
runtime, the constants, the class's facts and its borrow flag (against
callbacks and other threads), and the binding and conversion messages of
every callable."""

import ast
import ctypes
import importlib
import itertools
import re
import struct
import sys
import threading
import weakref

import pytest
import tesmar_math as tm
from registry import EMPTY, EVERY, FUNCTIONS, METHODS, STUB, STUB_CLASS, Index, Real, key, outcome
from tesmar_math import Tesmarmath

CONSTANTS = {
    "number_pi": 0x400921FB54442D18,
    "number_e": 0x4005BF0A8B145769,
    "infinity": 0x7FF0000000000000,
}
ALL = ["Tesmarmath", *(e.name for e in FUNCTIONS), *CONSTANTS]


def public(names):
    return [n for n in names if not n.startswith("__")]


def test_names_their_order_and_the_stub():
    assert next(ast.literal_eval(n.value) for n in STUB.body if isinstance(n, ast.Assign)) == ALL
    assert tm.__all__ == ALL == public(vars(tm)) and len(ALL) == 30
    assert list(vars(tm)).index("__all__") < list(vars(tm)).index("Tesmarmath")  # listed before set
    assert public(vars(Tesmarmath)) == [e.name for e in METHODS] and len(METHODS) == 27
    assert (
        not hasattr(tm, "power_of_2") and not hasattr(Tesmarmath, "is_integer") and tm.__doc__ == ""
    )
    assert [ast.unparse(d) for d in STUB_CLASS.decorator_list] == ["final"]
    constants = {
        ast.unparse(n.target): ast.unparse(n.annotation)
        for n in STUB.body
        if isinstance(n, ast.AnnAssign)
    }
    assert constants == dict.fromkeys(CONSTANTS, "Final[float]")
    for name, pattern in CONSTANTS.items():
        assert type(getattr(tm, name)) is float and key(getattr(tm, name)) == struct.pack(
            "<Q", pattern
        )


@pytest.mark.parametrize("entry", FUNCTIONS + METHODS, ids=repr)
def test_signature_matches_the_stub(entry):
    runtime = vars(Tesmarmath)[entry.name] if entry.method else getattr(tm, entry.name)
    assert entry.doc, "the stub documents every callable"
    params = [n if d is EMPTY else f"{n}={d}" for n, _, d in entry.params]
    # inspect.signature reads the text signature: names, defaults, every one by position or keyword
    assert runtime.__text_signature__ == f"({', '.join(['$self'] * entry.method + params)})"
    assert runtime.__doc__ is None
    if entry.method:
        assert (
            runtime.__objclass__ is Tesmarmath
            and runtime.__qualname__ == f"Tesmarmath.{entry.name}"
        )
    else:
        assert (runtime.__module__, runtime.__self__, runtime.__qualname__) == (
            "tesmar_math",
            tm,
            entry.name,
        )


def test_class_facts():
    T = Tesmarmath
    assert (T.__module__, T.__qualname__, repr(T)) == (
        "builtins",
        "Tesmarmath",
        "<class 'builtins.Tesmarmath'>",
    )
    assert T.__text_signature__ == "(number)" and T.__doc__ == "" and T.__mro__ == (T, object)
    assert (
        T.__basicsize__ == object.__basicsize__ + 16 and T.__itemsize__ == 0
    )  # a double and the flag
    assert (
        T.__flags__ & (1 << 10 | 1 << 14) == 0
    )  # neither a base type nor tracked by the collector
    with pytest.raises(
        TypeError, match="^type 'builtins.Tesmarmath' is not an acceptable base type$"
    ):
        type("Sub", (T,), {})
    t = T(2.5)
    for use in (
        lambda: t.__dict__,
        lambda: t.number,
        lambda: setattr(t, "number", 1.0),
        lambda: weakref.ref(t),
        lambda: float(t),
        lambda: int(t),
        lambda: t + 1,
        lambda: t < t,
    ):
        with pytest.raises((AttributeError, TypeError)):
            use()
    assert t != T(2.5) and hash(t) == object.__hash__(t) and t.get_number() == 2.5
    payload = struct.unpack("<d", struct.pack("<Q", 0x7FF8_0000_0000_1234))[0]
    assert struct.pack("<d", T(payload).get_number()) == struct.pack(
        "<d", payload
    )  # a NaN keeps its payload
    with pytest.raises(TypeError):  # CPython's descriptor refuses a receiver of another type
        T.get_number(2.5)
    u = t.square()
    assert type(u) is T and u is not t and t.get_number() == u.get_number() == 6.25


INNER = {e.name: (lambda t, e=e: getattr(t, e.name)(*e.sample()), e.reads) for e in METHODS}
INNER |= {"repr": (repr, True), "str": (str, True)}


@pytest.mark.parametrize("name", INNER)
def test_calls_back_into_a_held_receiver_meet_the_borrow_flag(name):
    inner, reads = INNER[name]
    t, seen = Tesmarmath(2.5), []

    def reenter(escape):
        try:
            inner(t)
        except RuntimeError as error:
            seen.append(str(error))
            if escape:
                raise

    assert t.mult_of([Real(2.0, lambda: reenter(False))]).get_number() == 5.0
    with pytest.raises(RuntimeError) as caught:
        t.mult_of([Real(2.0, lambda: reenter(True))])
    assert (
        seen
        == 2 * ["Already mutably borrowed" if reads else "Already borrowed"]
        == 2 * [str(caught.value)]
    )
    assert (
        key(t.get_number()) == key(5.0) and t.square().get_number() == 25.0
    )  # unchanged, and free again


def test_a_held_receiver_refuses_other_threads():
    """The module never releases the interpreter lock: another thread runs
    only where Python code does, as a callback would (test_fuzz.py)."""
    t, entered, release, results = Tesmarmath(10.0), threading.Event(), threading.Event(), []

    def wait():
        entered.set()
        assert release.wait(10)  # waiting hands the interpreter over

    worker = threading.Thread(target=lambda: results.append(t.div_of([Real(4.0, wait)])))
    worker.start()
    try:
        assert entered.wait(10)
        for call, reads in (
            (t.square, False),
            (lambda: t.power(2), False),
            (t.get_number, True),
            (t.is_even, True),
            (lambda: repr(t), True),
            (lambda: str(t), True),
        ):
            assert outcome(call) == (
                RuntimeError,
                ("Already mutably borrowed" if reads else "Already borrowed",),
            )
        assert (
            Tesmarmath(3.0).square().get_number() == tm.square(3.0) == 9.0
        )  # others are untouched
    finally:
        release.set()
        worker.join()
    assert t.get_number() == results[0].get_number() == 2.5 and t.mult_of([2]).get_number() == 5.0


def mirror(entry):
    """A Python function of the same signature, whose binding by CPython is
    the oracle for the module's messages."""
    params = ", ".join(n if d is EMPTY else f"{n}={d}" for n, _, d in entry.params)
    code = f"def {entry.name}({params}): pass"
    if entry.call_name.startswith("Tesmarmath."):
        code = f"class Tesmarmath:\n    @staticmethod\n    {code}"
    space = {}
    exec(code, space)  # noqa: S102
    return getattr(space.get("Tesmarmath"), entry.name, None) or space[entry.name]


def binding_message(call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except TypeError as error:
        return str(error)
    return None


@pytest.mark.parametrize("entry", [e for e in EVERY if e.params], ids=repr)
def test_binding_messages_read_like_pythons_own(entry):
    """Every count of positional arguments with every order of keywords,
    named or not: the module's message is CPython's, except that a surplus
    of positional arguments is reported first and "arguments" stays plural."""
    oracle, names = mirror(entry), [n for n, _, _ in entry.params]
    values = dict(zip(names, entry.sample())) | {"x": 1.0, "é": 1.0, "\udcff": 1.0}
    for count in range(len(names) + 2):
        args = (entry.sample() + (1.0, 1.0))[:count]
        for size in range(3):
            for keywords in itertools.permutations([*names, "x", "é", "\udcff"], size):
                kwargs = {k: values[k] for k in keywords}
                want = binding_message(oracle, *args, **({} if count > len(names) else kwargs))
                got = binding_message(entry.on(t := Tesmarmath(2.5)), *args, **kwargs)
                assert got == (want and want.replace("argument but", "arguments but")), (
                    args,
                    kwargs,
                )
                assert key(t.get_number()) == key(2.5) or want is None


@pytest.mark.parametrize("entry", [e for e in EVERY if e.params], ids=repr)
def test_conversion_errors_name_the_parameter(entry):
    """Each refused argument of each parameter kind, in each position: a
    TypeError is re-raised naming the parameter, anything else passes as it
    is; later parameters are not looked at and the receiver is unchanged."""
    for i, (name, kind, _) in enumerate(entry.params):
        for value, exception, message in kind.refused:
            looked = []
            later = [
                (Real if isinstance(k.sample, float) else Index)(k.sample, lambda: looked.append(1))
                for _, k, _ in entry.params[i + 1 :]
            ]
            want = (
                exception,
                ((f"argument '{name}': " if exception is TypeError else "") + message,),
            )
            assert (
                outcome(entry.on(t := Tesmarmath(2.5)), *entry.sample()[:i], value, *later) == want
            )
            assert not looked and key(t.get_number()) == key(2.5)


def raising(error):
    def effect():
        raise error

    return effect


def test_wrapping_keeps_the_cause_and_passes_other_errors_on():
    cause, original = KeyError("why"), TypeError("not today")
    original.__cause__ = cause
    with pytest.raises(TypeError) as caught:
        tm.square(Real(0.0, raising(original)))
    assert str(caught.value) == "argument 'number': not today" and caught.value.__cause__ is cause
    for error in (ValueError("mine"), type("MyTypeError", (TypeError,), {})("subclass")):
        with pytest.raises(type(error)) as caught:
            tm.factorial(Index(0, raising(error)))
        assert caught.value is error
    # The C API's error marks are values when nothing is raised.
    assert tm.square(Real(-1.0)) == 1.0 and tm.is_odd(Index(-1)) and tm.cos(0.0, 2**64 - 1) == 1.0


def test_reimport_and_a_second_entry_call_return_the_built_module():
    tm.user_mark = mark = object()
    saved = sys.modules.pop("tesmar_math")
    entry = ctypes.PyDLL(tm.__file__).PyInit_tesmar_math
    entry.restype = ctypes.py_object
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
            assert failure.type.__name__ == "ImportError" and re.search(
                r"(?i)sub-?interpreters", failure.msg
            )
    finally:
        interpreters.destroy(iid)
    assert tm.floor(2.5) == 2 and sys.modules["tesmar_math"] is tm
