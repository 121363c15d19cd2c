# Lists read from buffers (numpy arrays of any dtype and layout, array.array, memoryview, bytes,
# bytearray) give exactly what iterating the same object gives: the same bits, the same exception
# and message, the same receiver afterwards. (Arrays of doubles and of 64-bit ints also run
# through every cross-cutting check, as forms of the registry's lists.)

import array
import math
import sys

import numpy as np
import own_process
import pytest
import tesmar_math as tm
from hypothesis import given
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from registry import FLOATS, FUNCTIONS, INTEGERS, METHODS, NUMBERS, Seq, examples, key, outcome
from tesmar_math import Tesmarmath

LISTS = [e for e in FUNCTIONS + METHODS if e.params and e.params[0][1] in (NUMBERS, INTEGERS)]
CODES = "bBhHiIlLqQfd"  # array.array's numeric codes, numpy's too
# Formats read by iteration, never from memory.
OTHER_DTYPES = ("?", "e", ">f8", "<i4" if sys.byteorder == "big" else ">i4", "c16", "O")


@st.composite
def buffers(draw):
    code = draw(st.sampled_from([*CODES, *OTHER_DTYPES]))
    elements = FLOATS if code == "O" else None
    made = draw(hnp.arrays(np.dtype(code), st.integers(0, 6), elements=elements))
    made = made[:: draw(st.sampled_from([1, 1, 2, -1, -2]))]
    host = draw(st.sampled_from(["array", "view", "@view", "2-D", ""]))
    if host == "array" and code in CODES:
        return array.array(code, made.tolist())
    if host == "@view" and code in CODES:  # the native format spelled with its '@'
        return memoryview(made.copy()).cast("B").cast("@" + code)
    if host == "view" and code in CODES + "?e":  # memoryviews iterate these only
        return memoryview(made)
    return made.reshape(1, -1) if host == "2-D" else made  # 2-D: iterates rows, no numbers


BYTES = st.binary(max_size=6).flatmap(lambda b: st.sampled_from([b, bytearray(b)]))
SIGNED, UNSIGNED = [2**63 - 1, -(2**63), 2**53 + 1], [2**64 - 1, 2**63 + 2**11 + 1, 6]


# Subclasses of the types read from memory, which iterate their own way.
class Doubled(array.array):
    def __iter__(self):
        return (2 * item for item in super().__iter__())


class Reversed(np.ndarray):
    def __iter__(self):
        return iter(np.asarray(self)[::-1].tolist())


# A buffer exported from Python: a memoryview of it has an exporter that exports nothing when
# asked again, so the module iterates the view.
class ExportedInPython:
    def __buffer__(self, flags):
        return memoryview(b"abc")


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")  # complex __float__
@given(buffer=buffers() | BYTES, stored=FLOATS)
@examples((np.array(SIGNED), 1.0), (np.array(UNSIGNED), 2.0), (array.array("Q", UNSIGNED), 3.0))
@examples((Doubled("d", [1.0, 2.0]), 4.0), (np.array([10.0, 1.0]).view(Reversed), 5.0))
@examples((memoryview(ExportedInPython()), 6.0))
def test_buffer_reads_like_its_items(buffer, stored):
    items = list(buffer)
    for entry in LISTS:
        read, iterated = Tesmarmath(stored), Tesmarmath(stored)
        got = outcome(entry.on(read), buffer), key(read.get_number())
        assert got == (outcome(entry.on(iterated), items), key(iterated.get_number())), entry


@pytest.mark.parametrize("make", [bytearray, lambda b: array.array("B", b)])
def test_buffer_released_on_every_path(make):
    held = make(b"\x04\x00\x02")
    for call in (tm.sum_of, tm.div_of, Tesmarmath(1.0).int_div_of, tm.gcd_with_int):
        outcome(call, held)
        held.append(1)  # BufferError while a view is still exported
    # Releasing the view on leaving fails with BufferError while the module still holds it.
    with memoryview(held) as view, pytest.raises(ZeroDivisionError):
        tm.div_of(view)


def test_a_failing_len_passes_on_what_is_no_error():
    t = Tesmarmath(5.0)
    for error in (KeyboardInterrupt, SystemExit):  # an Exception costs only the hint: registry.Seq
        with pytest.raises(error):
            t.sum_of(Seq([1.0], error))
    assert t.get_number() == 5.0


@pytest.mark.no_sanitizer  # the sanitizer's shadow memory needs more address space
def test_a_sequence_longer_than_memory_is_folded_as_it_is_read():
    assert own_process.run("longer than memory") == ["True"]


# Any other sequence is pulled a chunk of items at a time as the fold goes: these are longer than a
# chunk, and exact integers keep every sum exact.
LONG = [float(i) for i in range(1000)]


class FailingAfterItsItems(Seq):
    def __iter__(self):
        yield from self.items
        raise LookupError("after the items")


def test_an_iterated_sequence_folds_every_item_once():
    assert tm.sum_of(Seq(LONG)) == math.fsum(LONG)


def test_an_iterated_sequence_gives_its_first_item_to_the_fold():
    assert tm.dif_of(Seq(LONG)) == LONG[0] - math.fsum(LONG[1:])


def test_an_iterated_sequence_is_read_to_its_end_after_the_fold_stops():
    with pytest.raises(TypeError, match="argument 'args': must be real number, not str"):
        tm.div_of(Seq([1.0, 0.0, *LONG, "x"]))


def test_an_iterator_failing_after_many_items_fails_the_call():
    t = Tesmarmath(5.0)
    with pytest.raises(LookupError, match="after the items"):
        t.sum_of(FailingAfterItsItems(LONG))
    assert t.get_number() == 5.0
