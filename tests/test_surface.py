"""The module as Python sees it: names, their order and the stub against the runtime; the
class's facts; re-entry into a held instance; every callable's binding and conversion messages;
reimport and sub-interpreters."""

import ast
import ctypes
import gc
import importlib
import itertools
import operator
import re
import struct
import sys
import threading
import types
import weakref
from functools import partial

import pytest
import registry
import tesmar_math as tm
from registry import (
    EMPTY,
    EVERY,
    FUNCTIONS,
    INNER,
    METHODS,
    OPERATION_ERRORS,
    STUB,
    Index,
    Real,
    documented_errors,
    key,
    outcome,
)
from tesmar_math import Tesmarmath

CONSTANTS = {"number_pi": 0x400921FB54442D18, "number_e": 0x4005BF0A8B145769}
CONSTANTS |= {"infinity": 0x7FF0000000000000}
ALL = ["Tesmarmath", *(e.name for e in FUNCTIONS), *CONSTANTS]


def public(names):
    return [n for n in names if not n.startswith("__")]


def test_the_module_defines_what_the_stub_lists_in_its_order():
    assert next(ast.literal_eval(n.value) for n in STUB.body if isinstance(n, ast.Assign)) == ALL
    assert tm.__all__ == ALL == public(vars(tm)) and tm.__doc__ == ""
    assert list(vars(tm)).index("__all__") < list(vars(tm)).index("Tesmarmath")  # listed first


def test_the_class_defines_the_stubs_methods_in_their_order():
    assert public(vars(Tesmarmath)) == [e.name for e in METHODS]
    assert not hasattr(tm, "power_of_2") and not hasattr(Tesmarmath, "is_integer")
    assert [ast.unparse(d) for d in registry.STUB_CLASS.decorator_list] == ["final"]


@pytest.mark.parametrize("name", CONSTANTS)
def test_constants_are_final_floats_with_their_bits(name):
    constants = [n for n in STUB.body if isinstance(n, ast.AnnAssign)]
    typed = {ast.unparse(n.target): ast.unparse(n.annotation) for n in constants}
    assert typed[name] == "Final[float]"
    value = getattr(tm, name)
    assert type(value) is float and key(value) == struct.pack("<Q", CONSTANTS[name])


@pytest.mark.parametrize("entry", FUNCTIONS + METHODS, ids=repr)
def test_signature_matches_the_stub(entry):
    runtime = vars(Tesmarmath)[entry.name] if entry.method else getattr(tm, entry.name)
    assert entry.doc, "the stub documents every callable"
    params = [n if d is EMPTY else f"{n}={d}" for n, _, d in entry.params]
    if entry.method:
        params.insert(0, "$self")
    # inspect.signature reads the text signature: names, defaults, every one by position or keyword
    assert runtime.__text_signature__ == f"({', '.join(params)})"
    assert runtime.__doc__ is None and runtime.__qualname__ == repr(entry).removesuffix("()")
    owner = (runtime.__objclass__,) if entry.method else (runtime.__module__, runtime.__self__)
    assert owner == ((Tesmarmath,) if entry.method else ("tesmar_math", tm))


# The leak and allocation-failure sweeps reach every error an operation documents.
@pytest.mark.parametrize("entry", EVERY, ids=repr)
def test_every_documented_operation_error_has_a_path_to_sweep(entry):
    calls = OPERATION_ERRORS.get(repr(entry), [])
    ended = [outcome(call) for call in calls]
    raised = {(kind.__name__, *args) for kind, args in ended if issubclass(kind, Exception)}
    missing = sorted(documented_errors(entry.doc) - raised)
    assert not missing, f"{entry}: add a call raising each of {missing} to OPERATION_ERRORS"


def test_the_class_names_itself_a_builtin():
    assert (Tesmarmath.__module__, Tesmarmath.__qualname__) == ("builtins", "Tesmarmath")
    assert repr(Tesmarmath) == "<class 'builtins.Tesmarmath'>"
    assert Tesmarmath.__mro__ == (Tesmarmath, object)
    assert Tesmarmath.__text_signature__ == "(number)" and Tesmarmath.__doc__ == ""


def test_the_class_is_not_a_base():
    with pytest.raises(TypeError, match="^type 'builtins.Tesmarmath' is not an acceptable base"):

        class Sub(Tesmarmath):
            pass


def test_instances_hold_no_references_for_the_collector():
    assert not gc.is_tracked(Tesmarmath(2.5))


def test_an_instances_size_does_not_depend_on_its_number():
    assert sys.getsizeof(Tesmarmath(0.0)) == sys.getsizeof(Tesmarmath(1e300))


# What an instance does not support: (what is tried, its arguments after the instance).
UNSUPPORTED = [
    (vars, ()),
    (weakref.ref, ()),
    (float, ()),
    (int, ()),
    (operator.add, (1,)),
    (operator.lt, (Tesmarmath(1.0),)),
    (getattr, ("number",)),
    (setattr, ("number", 1.0)),
]


@pytest.mark.parametrize(("use", "rest"), UNSUPPORTED)
def test_an_instance_supports_only_its_methods(use, rest):
    with pytest.raises((AttributeError, TypeError)):
        use(Tesmarmath(2.5), *rest)


def test_equality_is_identity():
    t = Tesmarmath(2.5)
    assert t == t and t != Tesmarmath(2.5) and hash(t) == object.__hash__(t)


def test_a_nan_keeps_its_payload():
    bits = 0x7FF8_0000_0000_1234
    stored = Tesmarmath(registry.double(bits)).get_number()
    assert struct.pack("<d", stored) == struct.pack("<Q", bits)


def test_a_method_refuses_a_receiver_of_another_type():
    with pytest.raises(TypeError):  # CPython's descriptor does
        Tesmarmath.get_number(2.5)


# Calling the class and calling its __new__ with the class bind the same way: the same
# instance, or the same exception and message.
NEW_CALLS = [  # (positional arguments, keyword arguments)
    ((2.5,), {}),
    ((), {"number": Real(-0.5)}),
    ((), {}),
    ((1.0, 2.0), {}),
    ((1.0,), {"number": 2.0}),
    ((), {"bogus": 1.0}),
    ((), {1: 2.0}),
    (("x",), {}),
]


@pytest.mark.parametrize(("args", "kwargs"), NEW_CALLS)
def test_new_binds_as_calling_the_class_does(args, kwargs):
    by_new = outcome(lambda: Tesmarmath.__new__(Tesmarmath, *args, **kwargs))
    assert by_new == outcome(lambda: Tesmarmath(*args, **kwargs))


def test_a_method_stores_its_result_and_returns_a_new_instance():
    t = Tesmarmath(2.5)
    u = t.square()
    assert type(u) is Tesmarmath and u is not t
    assert t.get_number() == u.get_number() == 6.25


BORROWED = {True: "Already mutably borrowed", False: "Already borrowed"}  # by: only reads?


# Each callable calls `inner` on its receiver as its first argument converts: a method holds it
# (shared with readers, if it only reads), a function holds none. The refusal, caught, lets the
# call finish as usual; escaping, the receiver keeps its number; it ends free.
@pytest.mark.parametrize("escape", [False, True], ids=["caught", "escaping"])
@pytest.mark.parametrize("inner", INNER)
def test_calls_back_into_a_held_receiver_are_refused(inner, escape):
    reads = INNER[inner][1]
    for outer in (e for e in EVERY if e.params):
        want = BORROWED[reads] if outer.method and not (outer.reads and reads) else None
        usual = outcome(outer.on(plain := Tesmarmath(2.5)), *outer.sample())
        call = registry.CallBack(outer, inner, escape)
        got = outcome(call)
        assert call.met == want, (
            f"{outer} called back into {inner}: met {call.met!r}, not {want!r}. A method "
            f"that only reads says '{registry.READ_ONLY}' in its stub docstring, no other does"
        )
        if outer.method:
            refused = escape and want is not None
            assert got == ((RuntimeError, (want,)) if refused else usual)
            stored = key(2.5 if refused else plain.get_number())
            assert key(call.receiver.get_number()) == stored  # and the receiver is free:
            assert outcome(call.receiver.mult_of, []) == (Tesmarmath, stored)


# Another thread meets the refusal that a callback meets: the module never releases the
# interpreter lock, so that thread runs only where Python code does, as a callback would.
@pytest.mark.parametrize("inner", INNER)
def test_another_thread_meets_a_held_receiver_refused(inner):
    t, entered, release, results = Tesmarmath(10.0), threading.Event(), threading.Event(), []

    def wait():
        entered.set()
        assert release.wait(10)  # waiting hands the interpreter over

    def divide():
        results.append(t.div_of([Real(4.0, wait)]))

    worker = threading.Thread(target=divide)
    worker.start()
    try:
        assert entered.wait(10)
        refusal = BORROWED[INNER[inner][1]]
        assert outcome(registry.call_inner, inner, t) == (RuntimeError, (refusal,))
        assert Tesmarmath(3.0).square().get_number() == tm.square(3.0) == 9.0  # others are free
    finally:
        release.set()
        worker.join()
    assert t.get_number() == results[0].get_number() == 2.5 and t.mult_of([2]).get_number() == 5.0


# A plain Python function with the callable's name and its parameters' names and defaults,
# made from an empty template: CPython's binding of it is the oracle of the callable's binding
# messages, for any number of parameters.
def template():
    """The template of every mirror."""


def mirror(entry):
    names = tuple(name for name, _, _ in entry.params)
    code = template.__code__.replace(
        co_name=entry.name,
        co_qualname=repr(entry).removesuffix("()"),
        co_argcount=len(names),
        co_nlocals=len(names),
        co_varnames=names,
    )
    defaults = tuple(default for _, _, default in entry.params if default is not EMPTY)
    return types.FunctionType(code, {}, entry.name, defaults or None)


def binding_message(call, *args, **kwargs):
    got = outcome(call, *args, **kwargs)
    return got[1][0] if got[0] is TypeError else None


# Every count of positional arguments with every order of keywords: the message is CPython's, but a
# surplus of positional ones comes first and "arguments" stays plural.
@pytest.mark.parametrize("entry", [e for e in EVERY if e.params], ids=repr)
def test_binding_messages_read_like_pythons_own(entry):
    oracle, names = mirror(entry), [n for n, _, _ in entry.params]
    values = dict(zip(names, entry.sample(), strict=True))
    values |= dict.fromkeys(["x", "", "é", "\udcff"], 1.0)
    for count in range(len(names) + 2):
        args = (entry.sample() + (1.0, 1.0))[:count]
        for size in range(3):
            for keywords in itertools.permutations(values, size):
                kwargs = {k: values[k] for k in keywords}
                want = binding_message(oracle, *args, **({} if count > len(names) else kwargs))
                got = binding_message(entry.on(t := Tesmarmath(2.5)), *args, **kwargs)
                assert got == (want and want.replace("argument but", "arguments but")), kwargs
                assert key(t.get_number()) == key(2.5) or want is None


def power(number, exponent):
    """Python's own binding of power's parameters."""


def tetration(base, height):
    """Python's own binding of tetration's parameters."""


TWO_MISSING = [  # (callable, a Python function of its parameters, the message for both missing)
    (tm.power, power, "power() missing 2 required positional arguments: 'number' and 'exponent'"),
    (
        tm.tetration,
        tetration,
        "tetration() missing 2 required positional arguments: 'base' and 'height'",
    ),
]


@pytest.mark.parametrize(("ours", "pythons", "message"), TWO_MISSING, ids=["power", "tetration"])
def test_two_missing_arguments_are_named_as_python_names_them(ours, pythons, message):
    assert binding_message(ours) == binding_message(pythons) == message


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


def test_a_wrapped_conversion_error_keeps_its_cause():
    cause = KeyError("why")

    def fail():
        raise TypeError("not today") from cause

    with pytest.raises(TypeError) as caught:
        tm.square(Real(0.0, fail))
    assert str(caught.value) == "argument 'number': not today" and caught.value.__cause__ is cause


class Unprintable:
    def __str__(self):
        raise registry.Boom("no text")


# A conversion's TypeError whose message cannot become text: what its str() raised passes.
def test_a_conversion_error_without_text_passes_what_its_str_raised():
    with pytest.raises(registry.Boom, match="^no text$"):
        tm.square(Real(0.0, registry.raising(TypeError, Unprintable())))


# The C API's error marks (-1.0 from a conversion, -1 from an index, all ones as unsigned) are
# values when nothing is raised.
def test_values_that_the_c_api_uses_as_error_marks_pass():
    assert tm.square(Real(-1.0)) == 1.0
    assert tm.is_odd(Index(-1))
    assert tm.cos(0.0, 2**64 - 1) == 1.0


def test_reimport_returns_the_built_module():
    tm.user_mark = mark = object()
    saved = sys.modules.pop("tesmar_math")
    try:
        assert importlib.import_module("tesmar_math") is saved and tm.user_mark is mark
    finally:
        sys.modules["tesmar_math"] = saved
        del tm.user_mark


def test_a_second_call_of_the_entry_function_returns_the_built_module():
    tm.user_mark = mark = object()
    saved = sys.modules.pop("tesmar_math")
    # The module's own entry function, called again as an importer would.
    entry = ctypes.PYFUNCTYPE(ctypes.py_object)(("PyInit_tesmar_math", ctypes.PyDLL(tm.__file__)))
    try:
        before = sys.getrefcount(tm)
        assert all(entry() is tm for _ in range(3)) and sys.getrefcount(tm) == before
        assert tm.user_mark is mark and tm.__all__ == ALL and tm.Tesmarmath is Tesmarmath
    finally:
        sys.modules["tesmar_math"] = saved
        del tm.user_mark


def import_the_module():  # run inside a sub-interpreter
    import tesmar_math  # noqa: F401, PLC0415


def test_sub_interpreters_are_refused():
    import _interpreters as interpreters  # noqa: PLC0415

    iid = interpreters.create("legacy")  # lets a single-phase module reach its own init
    try:
        for _ in range(2):
            failure = interpreters.exec(iid, import_the_module)
            assert failure.type.__name__ == "ImportError"
            assert re.search(r"(?i)sub-?interpreters", failure.msg)
    finally:
        interpreters.destroy(iid)
    assert tm.floor(2.5) == 2 and sys.modules["tesmar_math"] is tm
