"""Argument binding, conversion, error wrapping and the internal-failure path."""

import math
import struct
import sys

import pytest

import tesmar_math as tm
from tesmar_math import Tesmarmath

_testcapi = pytest.importorskip("_testcapi")

BINDING_ERRORS = [
    (lambda: tm.square(), "square() missing 1 required positional argument: 'number'"),
    (lambda: tm.power(), "power() missing 2 required positional arguments: 'number' and 'exponent'"),
    (lambda: tm.power(exponent=2.0), "power() missing 1 required positional argument: 'number'"),
    (lambda: tm.square(1.0, 2.0), "square() takes 1 positional arguments but 2 were given"),
    (lambda: tm.power(1.0, 2.0, 3.0), "power() takes 2 positional arguments but 3 were given"),
    (lambda: tm.cos(1.0, 2, 3), "cos() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: Tesmarmath(1).cos(1, 2),
     "Tesmarmath.cos() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: Tesmarmath(1).power(1, 2), "Tesmarmath.power() takes 1 positional arguments but 2 were given"),
    (lambda: Tesmarmath(1).power(), "Tesmarmath.power() missing 1 required positional argument: 'exponent'"),
    (lambda: tm.square(1.0, x=2.0), "square() got an unexpected keyword argument 'x'"),
    (lambda: tm.square(1.0, number=2.0), "square() got multiple values for argument 'number'"),
    (lambda: tm.cos(1.0, terms=2, number=3.0), "cos() got multiple values for argument 'number'"),
    (lambda: tm.square(1.0, 2.0, x=3.0), "square() takes 1 positional arguments but 2 were given"),
    (lambda: tm.cos(x=1, number=1.0), "cos() got an unexpected keyword argument 'x'"),
    (lambda: tm.square(**{"\udcff": 1}), "square() got an unexpected keyword argument '\udcff'"),
    (lambda: Tesmarmath(), "Tesmarmath.__new__() missing 1 required positional argument: 'number'"),
    (lambda: Tesmarmath(1, 2), "Tesmarmath.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: Tesmarmath(1, numbr=2), "Tesmarmath.__new__() got an unexpected keyword argument 'numbr'"),
    (lambda: Tesmarmath(1, number=2), "Tesmarmath.__new__() got multiple values for argument 'number'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_messages(call, message, no_leak):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.type is TypeError
    assert caught.value.args == (message,)
    no_leak(call)


def test_constructor_keywords_bind_in_dict_order():
    with pytest.raises(TypeError, match=r"^Tesmarmath.__new__\(\) got an unexpected keyword argument 'b'$"):
        Tesmarmath(**{"b": 1, "c": 2})


def test_every_parameter_binds_by_keyword():
    assert tm.power(number=2.0, exponent=3.0) == 8.0
    assert tm.power(exponent=3.0, number=2.0) == 8.0
    assert tm.cos(number=0.0, terms=3) == 1.0
    assert Tesmarmath(number=2.5).get_number() == 2.5
    assert Tesmarmath(2).power(exponent=3).get_number() == 8.0


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexy:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatSub(float):
    def __float__(self):  # not consulted: a float subclass carries its value
        raise AssertionError


@pytest.mark.parametrize("argument, value", [
    (3, 9.0), (True, 1.0), (-1.0, 1.0), (Floaty(1.5), 2.25), (Indexy(4), 16.0),
    (2**1000, math.inf), (FloatSub(3.0), 9.0),
])
def test_real_argument_follows_the_float_protocol(argument, value):
    assert tm.square(argument) == value
    assert type(tm.square(argument)) is float


@pytest.mark.parametrize("call, start", [
    (lambda: tm.square("a"), "argument 'number': must be real number, not str"),
    (lambda: tm.square(None), "argument 'number': must be real number, not NoneType"),
    (lambda: tm.power(1.0, []), "argument 'exponent': must be real number, not list"),
    (lambda: tm.is_odd(3.0), "argument 'number': "),
    (lambda: tm.factorial("5"), "argument 'number': "),
    (lambda: tm.cos(0.0, None), "argument 'terms': "),
    (lambda: tm.cos(0.0, 2.0), "argument 'terms': "),
    (lambda: Tesmarmath("3"), "argument 'number': "),
    (lambda: tm.square(Floaty("x")), "argument 'number': "),
])
def test_conversion_type_errors_name_the_parameter(call, start, no_leak):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.type is TypeError
    assert str(caught.value).startswith(start)
    no_leak(call)


@pytest.mark.parametrize("call", [
    lambda: tm.factorial(2**63), lambda: tm.factorial(-2**63 - 1), lambda: tm.cos(0.0, -1),
    lambda: tm.cos(0.0, 2**64), lambda: tm.is_odd(2**63), lambda: tm.square(10**400),
])
def test_overflow_errors_pass_through_unprefixed(call, no_leak):
    with pytest.raises(OverflowError) as caught:
        call()
    assert not str(caught.value).startswith("argument")
    no_leak(call)


def test_integer_arguments():
    assert tm.is_odd(True) and tm.is_even(Indexy(-4))
    assert tm.factorial(-1 + 6) == 120  # -1 would be the error mark of the C call
    assert tm.cos(0.0, Indexy(3)) == 1.0
    assert tm.cos(0.0, 2**64 - 1) == 1.0


class Raises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error

    __index__ = __float__


def test_other_exceptions_pass_through_unchanged():
    error = ValueError("mine")
    with pytest.raises(ValueError) as caught:
        tm.square(Raises(error))
    assert caught.value is error

    class MyTypeError(TypeError):
        pass

    subclassed = MyTypeError("subclass")
    with pytest.raises(MyTypeError) as caught:
        tm.factorial(Raises(subclassed))
    assert caught.value is subclassed


def test_wrapping_keeps_the_cause_of_the_original():
    cause = KeyError("why")
    original = TypeError("not today")
    original.__cause__ = cause
    with pytest.raises(TypeError) as caught:
        tm.square(Raises(original))
    assert str(caught.value) == "argument 'number': not today"
    assert caught.value.__cause__ is cause


def test_minus_one_is_a_value_not_an_error_mark():
    class Lies:
        def __float__(self):
            return -1.0  # a genuine -1.0 is a value, not an error mark

    assert tm.square(Lies()) == 1.0


@pytest.fixture
def panic_type():
    """PanicException, made to appear by one failed result allocation."""
    t = Tesmarmath(3.0)
    try:
        _testcapi.set_nomemory(0, 1)
        t.square()
    except BaseException as caught:  # noqa: BLE001
        return type(caught)
    finally:
        _testcapi.remove_mem_hooks()
    pytest.skip("the allocation did not fail")


@pytest.mark.no_sanitizer
def test_failed_result_allocation_is_a_panic(panic_type, capfd):
    assert panic_type.__module__ == "vorn_runtime"
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__bases__ == (BaseException,)
    assert "BaseException" in panic_type.__doc__
    t = Tesmarmath(2.0)
    for start in range(3):
        try:
            _testcapi.set_nomemory(start, start + 1)
            t.cube()
        except BaseException as caught:  # noqa: BLE001
            raised = caught
            break
        finally:
            _testcapi.remove_mem_hooks()
    else:
        pytest.skip("the allocation did not fail")
    assert type(raised) is panic_type
    assert raised.args == ("Python API call failed",)
    assert "internal failure" in capfd.readouterr().err
    # The interpreter carries on and the receiver is free again.
    assert t.square().get_number() == t.get_number()


@pytest.mark.no_sanitizer
def test_panic_from_python_code_passes_unwrapped(panic_type, capfd):
    def fail():
        raise panic_type("from a callback")

    class Panics:
        def __float__(self):
            fail()

    with pytest.raises(panic_type) as caught:
        tm.square(Panics())
    assert caught.value.args == ("from a callback",)
    assert "PanicException" in capfd.readouterr().err
    try:
        tm.square(Panics())
    except Exception:  # noqa: BLE001
        pytest.fail("PanicException must not be an Exception")
    except BaseException:  # noqa: BLE001
        pass


def bits(x):
    return struct.pack("<d", x)


def test_reentry_from_a_conversion_meets_the_borrow_flag():
    t = Tesmarmath(7.0)
    seen = []

    class Reads:
        def __float__(self):
            try:
                t.get_number()
            except RuntimeError as error:
                seen.append(str(error))
            try:
                t.square()
            except RuntimeError as error:
                seen.append(str(error))
            return 1.0

    assert t.sum_of([Reads()]).get_number() == 8.0
    assert seen == ["Already mutably borrowed", "Already borrowed"]

    class Escapes:
        def __float__(self):
            return t.square()

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        t.mult_of([Escapes()])
    assert bits(t.get_number()) == bits(8.0)
    assert t.square().get_number() == 64.0  # the flag is free again


class IntSub(int):
    pass


# Ints around the 30-bit digit boundaries, read inline or through CPython.
BOUNDARY_INTS = [v for b in (30, 60, 63) for m in (-1, 0) for v in (2**b + m, -(2**b) - m)
                 if -(2**63) <= v < 2**63] + [0, 1, -1]


@pytest.mark.parametrize("value", BOUNDARY_INTS)
def test_integer_fast_paths_agree_with_exact_ints(value):
    assert tm.is_even(value) is (value % 2 == 0)
    assert tm.is_even(IntSub(value)) is (value % 2 == 0)
    assert tm.gcd_with_int([value, 0]) == abs(value)
    assert tm.int_div_of((value, 1)) == value
    assert tm.square(value) == float(value) * float(value)
    assert Tesmarmath(value).get_number() == float(value)
    if value >= 0:
        assert tm.cos(0.5, value) == tm.cos(0.5, IntSub(value))
    else:
        with pytest.raises(OverflowError):
            tm.cos(0.5, value)


def test_subclasses_and_bools_take_the_general_path():
    assert tm.factorial(IntSub(5)) == 120 and tm.factorial(True) == 1
    assert tm.square(FloatSub(1.5)) == 2.25
    assert tm.gcd_with_int([IntSub(12), True]) == 1
    assert Tesmarmath(2).power(IntSub(3)).get_number() == 8.0


def test_non_ascii_keywords_are_refused_with_their_name():
    with pytest.raises(TypeError, match="^cos\\(\\) got an unexpected keyword argument 'térms'$"):
        tm.cos(1.0, **{"térms": 2})
    with pytest.raises(TypeError, match="^Tesmarmath.power\\(\\) got an unexpected keyword argument 'ü'$"):
        Tesmarmath(1).power(**{"ü": 2})
