"""Lists read from buffers (numpy arrays, array.array, memoryview, bytes,
bytearray) give exactly what iterating the same object gives: the same bits,
the same exception and message, the same receiver afterwards."""

import array
import struct
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import tesmar_math as tm
from tesmar_math import Tesmarmath

LIST_CALLABLES = ("sum_of", "dif_of", "div_of", "int_div_of", "mult_of", "gcd_with_int",
                  "gcd_with_float", "lcm_with")
ARRAY_CODES = "bBhHiIlLqQfd"  # array.array's numeric codes, numpy's too
# Formats read by iteration, never from memory.
OTHER_DTYPES = ("?", "e", ">f8", "<i4" if sys.byteorder == "big" else ">i4", "c16", "O")


def bits(value):
    if isinstance(value, float):
        return ("float", struct.pack("<d", value))
    if isinstance(value, Tesmarmath):
        return ("instance", struct.pack("<d", value.get_number()))
    return (type(value).__name__, value)


def outcome(call):
    try:
        return ("returns", bits(call()))
    except Exception as error:  # noqa: BLE001 - the exception is the outcome
        return ("raises", type(error), str(error))


def values_of(dtype):
    kind = dtype.kind
    if kind in "iu":
        info = np.iinfo(dtype)
        return st.integers(int(info.min), int(info.max))
    if kind == "b":
        return st.booleans()
    width = {"e": 16, "f": 32}.get(dtype.char, 64)
    return st.floats(width=width)


@st.composite
def buffers(draw):
    code = draw(st.sampled_from([*ARRAY_CODES, *OTHER_DTYPES]))
    dtype = np.dtype(code)
    if dtype.kind == "c":
        items = draw(st.lists(st.complex_numbers(allow_nan=False), max_size=6))
    else:
        items = draw(st.lists(values_of(dtype), max_size=6))
    step = draw(st.sampled_from([1, 1, 2, -1, -2]))
    host = draw(st.sampled_from(["ndarray", "memoryview", "array", "2-D"]))
    if host == "array" and code in ARRAY_CODES:
        return array.array(code, items)  # contiguous only
    made = np.array(items, dtype=dtype)[::step]
    if host == "2-D":
        return made.reshape(1, -1)  # iterates rows, which are no numbers
    # memoryview iterates native numbers, bools and half floats only.
    return memoryview(made) if host == "memoryview" and code in ARRAY_CODES + "?e" else made


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")  # complex __float__
@given(buffers() | st.binary(max_size=6).flatmap(lambda b: st.sampled_from([b, bytearray(b)])),
       st.floats())
def test_buffer_reads_like_its_items(buffer, stored):
    items = list(buffer)
    for name in LIST_CALLABLES:
        function = getattr(tm, name)
        assert outcome(lambda: function(buffer)) == outcome(lambda: function(items)), name
        read, iterated = Tesmarmath(stored), Tesmarmath(stored)
        assert (outcome(lambda: getattr(read, name)(buffer)),
                bits(read)) == (outcome(lambda: getattr(iterated, name)(items)),
                                bits(iterated)), name


def test_large_integers_convert_as_float_does():
    values = [2**63 - 1, -(2**63), 2**53 + 1, 2**64 - 1, 2**63 + 2**11 + 1]
    for made in (np.array(values[:3]), np.array(values[3:], dtype="u8"),
                 array.array("Q", values[3:])):
        assert tm.sum_of(made) == sum(float(v) for v in made)
    assert tm.gcd_with_int(np.array([2**63 - 1], dtype="u8")) == 2**63 - 1
    with pytest.raises(OverflowError):
        tm.gcd_with_int(np.array([6, 2**63], dtype="u8"))


def test_subclasses_iterate_their_own_way():
    class Doubled(array.array):
        def __iter__(self):
            return (2 * item for item in super().__iter__())

    class Reversed(np.ndarray):
        def __iter__(self):
            return iter(np.asarray(self)[::-1].tolist())

    assert tm.sum_of(Doubled("d", [1.0, 2.0])) == 6.0
    assert tm.dif_of(np.array([10.0, 1.0]).view(Reversed)) == -9.0


@pytest.mark.parametrize("make", [bytearray, lambda b: array.array("B", b)])
def test_buffer_released_on_every_path(make):
    held = make(b"\x04\x00\x02")
    for call in (lambda: tm.sum_of(held), lambda: tm.div_of(held),
                 lambda: Tesmarmath(1.0).int_div_of(held), lambda: tm.gcd_with_int(held)):
        try:
            call()
        except ZeroDivisionError:
            pass
        held.append(1)  # BufferError while a view is still exported
    view = memoryview(held)
    with pytest.raises(ZeroDivisionError):
        tm.div_of(view)
    view.release()


class Sized:
    """A sequence of two ones whose __len__ raises `error`."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        raise self.error

    def __getitem__(self, i):
        if i < 2:
            return 1.0
        raise IndexError


def test_a_failing_len_costs_only_the_hint_unless_it_is_no_error():
    assert tm.sum_of(Sized(ValueError("lie"))) == 2.0
    t = Tesmarmath(5.0)
    for error in (KeyboardInterrupt(), SystemExit(3)):
        with pytest.raises(type(error)):
            t.sum_of(Sized(error))
    assert t.get_number() == 5.0


@pytest.mark.no_sanitizer  # the sanitizer's shadow memory needs more address space
def test_a_list_too_long_to_hold_is_memory_error():
    script = """
import itertools, resource, tesmar_math as tm
resource.setrlimit(resource.RLIMIT_AS, (2**30, 2**30))
class Endless:
    def __len__(self): return 0
    def __getitem__(self, i): return 1.0
    def __iter__(self): return itertools.repeat(1.0)
try:
    tm.sum_of(Endless())
except MemoryError:
    print("MemoryError", tm.sum_of([1.0, 2.0]))
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=120)
    assert run.stdout.split() == ["MemoryError", "3.0"], run.stderr
