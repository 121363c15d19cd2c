"""The class Tesmarmath: construction, the stored number, result instances."""

import math
import struct

import pytest

from tesmar_math import Tesmarmath


def bits(x):
    return struct.pack("<d", x)


class Indexy:
    def __index__(self):
        return 7


@pytest.mark.parametrize("argument, stored", [
    (3, 3.0), (True, 1.0), (2.5, 2.5), (-0.0, -0.0), (Indexy(), 7.0), (math.inf, math.inf),
])
def test_constructor_converts_a_real_argument(argument, stored):
    t = Tesmarmath(argument)
    assert type(t) is Tesmarmath
    assert bits(t.get_number()) == bits(stored)
    assert type(t.get_number()) is float


def test_nan_payload_is_kept():
    nan = struct.unpack("<d", struct.pack("<Q", 0x7FF8_0000_0000_1234))[0]
    assert bits(Tesmarmath(nan).get_number()) == bits(nan)


def test_reading_never_changes_the_stored_number():
    t = Tesmarmath(2.5)
    for read in (t.get_number, t.is_even, t.is_odd, t.is_positive, t.is_negative,
                 lambda: repr(t), lambda: str(t)):
        read()
        assert t.get_number() == 2.5


def test_result_instances_are_new_objects_sharing_the_value():
    t = Tesmarmath(2.5)
    u = t.floor()
    assert type(u) is Tesmarmath and u is not t
    assert t.get_number() == u.get_number() == 2.0
    assert t.square().get_number() == 4.0 and u.get_number() == 2.0


def test_the_class_is_closed():
    t = Tesmarmath(1.0)
    with pytest.raises(TypeError):
        type("Sub", (Tesmarmath,), {})
    for attempt in (lambda: t.number, lambda: t.__dict__, lambda: float(t), lambda: t + 1):
        with pytest.raises((AttributeError, TypeError)):
            attempt()
    with pytest.raises(TypeError):
        import weakref

        weakref.ref(t)
    with pytest.raises(AttributeError):
        t.anything = 1
    assert t != Tesmarmath(1.0) and t == t
    assert hash(t) == hash(t)


def test_text_signature_and_names():
    assert Tesmarmath.__text_signature__ == "(number)"
    assert Tesmarmath.__module__ == "builtins"
    assert Tesmarmath.__qualname__ == Tesmarmath.__name__ == "Tesmarmath"
    assert repr(Tesmarmath) == "<class 'builtins.Tesmarmath'>"


def test_foreign_receivers_are_refused_before_the_method_runs():
    with pytest.raises(TypeError):
        Tesmarmath.get_number(1.0)
    with pytest.raises(TypeError):
        Tesmarmath.sum_of(1.0, [1.0])


@pytest.mark.parametrize("call", [
    lambda: Tesmarmath(1.5), lambda: Tesmarmath(number=1.5), lambda: Tesmarmath("x"),
    lambda: Tesmarmath(), lambda: Tesmarmath(1.5).get_number(), lambda: repr(Tesmarmath(0.1)),
    lambda: str(Tesmarmath(-0.0)), lambda: Tesmarmath(3).square(),
])
def test_no_leaks(call, no_leak):
    no_leak(call)
