"""The finished module: its names and their order, every callable's text
signature, the constants, the class's facts, re-import and sub-interpreters."""
import ctypes
import importlib
import inspect
import math
import re
import struct
import sys
import weakref

import pytest

import tesmar_math as tm
from tesmar_math import Tesmarmath

# Module functions in the order they are added, with their text signatures.
FUNCTIONS = {
    "sum_of": "(args)", "dif_of": "(args)", "div_of": "(args)", "int_div_of": "(args)",
    "mult_of": "(args)", "square": "(number)", "cube": "(number)",
    "power": "(number, exponent)", "square_root": "(number)", "cube_root": "(number)",
    "factorial": "(number)", "gcd_with_int": "(args)", "gcd_with_float": "(args)",
    "lcm_with": "(args)", "floor": "(number)", "ceil": "(number)", "is_positive": "(number)",
    "is_negative": "(number)", "is_integer": "(number)", "sign": "(number)",
    "is_even": "(number)", "is_odd": "(number)", "cos": "(number, terms=20)",
    "sin": "(number, terms=20)", "tan": "(number, terms=20)", "tetration": "(base, height)",
}
CONSTANTS = {"number_pi": 0x400921FB54442D18, "number_e": 0x4005BF0A8B145769,
             "infinity": 0x7FF0000000000000}
NAMES = ["Tesmarmath", *FUNCTIONS, *CONSTANTS]

# The class's methods in table order, with their text signatures.
METHODS = {
    "get_number": "($self)", "sum_of": "($self, args)", "dif_of": "($self, args)",
    "div_of": "($self, args)", "int_div_of": "($self, args)", "mult_of": "($self, args)",
    "square": "($self)", "cube": "($self)", "power": "($self, exponent)",
    "power_of_2": "($self)", "square_root": "($self)", "cube_root": "($self)",
    "factorial": "($self)", "gcd_with_int": "($self, args)", "gcd_with_float": "($self, args)",
    "lcm_with": "($self, args)", "floor": "($self)", "ceil": "($self)", "sign": "($self)",
    "is_positive": "($self)", "is_negative": "($self)", "is_even": "($self)",
    "is_odd": "($self)", "cos": "($self, terms=20)", "sin": "($self, terms=20)",
    "tan": "($self, terms=20)", "tetration": "($self, height)",
}


def public(names):
    return [n for n in names if not (n.startswith("__") and n.endswith("__"))]


def published(text_signature: str) -> list[tuple[str, object]]:
    """(name, default) pairs read from a text signature, $self dropped."""
    inner = text_signature.strip("()").removeprefix("$self").lstrip(", ")
    pairs = [p.partition("=") for p in inner.split(", ") if p]
    return [(name, int(default) if sep else inspect.Parameter.empty)
            for name, sep, default in pairs]


def parameters(callable_) -> list[tuple[str, object]]:
    params = list(inspect.signature(callable_).parameters.values())
    if params and params[0].name == "self":  # $self is positional-only
        assert params.pop(0).kind is inspect.Parameter.POSITIONAL_ONLY
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)
    return [(p.name, p.default) for p in params]


def test_names_and_their_order():
    assert len(NAMES) == 30 and len(METHODS) == 27
    assert type(tm.__all__) is list and tm.__all__ == NAMES
    order = list(vars(tm))
    assert public(order) == NAMES
    assert order.index("__all__") < order.index("Tesmarmath")  # listed before being set
    assert tm.__doc__ == ""


@pytest.mark.parametrize("name, signature", FUNCTIONS.items())
def test_module_function(name, signature):
    function = getattr(tm, name)
    assert type(function) is type(len)
    assert (function.__name__, function.__qualname__) == (name, name)
    assert function.__text_signature__ == signature and function.__doc__ is None
    assert function.__module__ == "tesmar_math" and function.__self__ is tm
    assert parameters(function) == published(signature)


def test_method_table_order():
    assert public(Tesmarmath.__dict__) == list(METHODS)
    assert set(Tesmarmath.__dict__) - set(METHODS) == {
        "__new__", "__repr__", "__str__", "__doc__", "__module__"}
    assert not hasattr(Tesmarmath, "is_integer") and not hasattr(tm, "get_number")
    assert not hasattr(tm, "power_of_2")


@pytest.mark.parametrize("name, signature", METHODS.items())
def test_method(name, signature):
    descriptor = Tesmarmath.__dict__[name]
    assert type(descriptor) is type(str.upper) and descriptor.__objclass__ is Tesmarmath
    assert descriptor.__qualname__ == f"Tesmarmath.{name}"
    assert descriptor.__text_signature__ == signature and descriptor.__doc__ is None
    assert list(inspect.signature(descriptor).parameters)[0] == "self"
    assert parameters(descriptor) == published(signature)
    t = Tesmarmath(1.0)
    assert getattr(t, name).__self__ is t
    assert parameters(getattr(t, name)) == published(signature)


def test_every_callable_has_a_signature():
    callables = [getattr(tm, n) for n in NAMES if callable(getattr(tm, n))]
    assert len(callables) == 27
    for c in callables:
        assert inspect.signature(c) is not None
    assert str(inspect.signature(Tesmarmath)) == "(number)"


@pytest.mark.parametrize("name, pattern", CONSTANTS.items())
def test_constants(name, pattern):
    value = getattr(tm, name)
    assert type(value) is float
    assert struct.unpack("<Q", struct.pack("<d", value))[0] == pattern
    assert value == {"number_pi": math.pi, "number_e": math.e, "infinity": math.inf}[name]


def test_class_facts():
    T = Tesmarmath
    assert (T.__module__, T.__name__, T.__qualname__) == ("builtins", "Tesmarmath", "Tesmarmath")
    assert repr(T) == "<class 'builtins.Tesmarmath'>"
    assert T.__text_signature__ == "(number)" and T.__doc__ == ""
    assert T.__mro__ == (T, object) and T.__itemsize__ == 0
    assert T.__basicsize__ == object.__basicsize__ + 16  # the double and the borrow flag
    assert T.__flags__ & (1 << 10) == 0 and T.__flags__ & (1 << 14) == 0  # BASETYPE, HAVE_GC
    with pytest.raises(TypeError, match="^type 'builtins.Tesmarmath' is not an acceptable base"):
        type("Sub", (T,), {})


@pytest.mark.parametrize(
    "use, kind",
    [(lambda t: t.__dict__, AttributeError), (lambda t: t.number, AttributeError),
     (lambda t: setattr(t, "number", 1.0), AttributeError), (weakref.ref, TypeError),
     (float, TypeError), (int, TypeError), (lambda t: t + 1, TypeError),
     (lambda t: t < t, TypeError)],
)
def test_instance_offers_nothing_else(use, kind):
    t = Tesmarmath(2.5)
    with pytest.raises(kind):
        use(t)
    assert t.get_number() == 2.5


def test_identity_equality():
    t = Tesmarmath(2.5)
    assert t == t and t != Tesmarmath(t.get_number())
    assert hash(t) == object.__hash__(t)


def test_reimport_returns_the_same_module():
    tm.user_mark = mark = object()
    saved = sys.modules.pop("tesmar_math")
    try:
        again = importlib.import_module("tesmar_math")
        assert again is saved and again.user_mark is mark
        assert again.__all__ == NAMES  # the body did not run again
        assert again.Tesmarmath is Tesmarmath
    finally:
        sys.modules["tesmar_math"] = saved
        del tm.user_mark


def test_entry_point_called_again_returns_the_built_module():
    # CPython 3.13 answers a re-import from its own cache; calling the entry
    # point directly is what reaches the module cell.
    entry = ctypes.PyDLL(tm.__file__).PyInit_tesmar_math
    entry.restype = ctypes.py_object
    tm.user_mark = mark = object()
    try:
        before = sys.getrefcount(tm)
        for _ in range(3):
            assert entry() is tm
        assert sys.getrefcount(tm) == before  # a new reference, released by ctypes
        assert tm.user_mark is mark and tm.__all__ == NAMES
    finally:
        del tm.user_mark


def test_sub_interpreter_is_refused():
    interpreters = pytest.importorskip("_interpreters")
    # The legacy config lets single-phase modules through to their own init.
    iid = interpreters.create("legacy")
    try:
        assert interpreters.exec(iid, "import math") is None
        for _ in range(2):  # refused again on a second attempt
            failure = interpreters.exec(iid, "import tesmar_math")
            assert failure is not None
            assert (failure.type.__module__, failure.type.__name__) == ("builtins", "ImportError")
            assert re.search(r"(?i)\bsub-?interpreters\b", failure.msg)
    finally:
        interpreters.destroy(iid)
    assert tm.floor(2.5) == 2 and Tesmarmath(3).square().get_number() == 9.0
    assert sys.modules["tesmar_math"] is tm and tm.__all__ == NAMES
