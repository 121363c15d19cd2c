#!/usr/bin/env python3
"""Coverage-guided fuzzing of every callable of tesmar_math (`make fuzz`).

One input is one call. atheris.FuzzedDataProvider turns the bytes into a receiver, a target (a
module function, a method, the constructor by any of its routes, repr or str: every callable the
stub declares, picked by name) and its arguments, by position or by keyword: edge floats, ints
of any size, bools, subclasses, numpy scalars, sequences, ranges, iterators, buffers and numpy
arrays of every item format, stride and dimension count, and the hostile objects below, whose
dunders act on the call: raise (PanicException too, its message unencodable or not), call back
into the receiver, change a list being read, resize or release a buffer being read, drop the
caller's last references to the receiver and the arguments, raise a signal now or later (its
handler acting in turn), or call into the module again, nested, under a raised recursion limit.

Every call must end in a result of the stub's type or an exception the suite accepts; a method
that fails leaves its receiver's bits as they were, one that returns leaves it holding what it
stored; a call back into a held receiver is refused; no Python code runs with an exception
pending; the reference counts of what the caller still holds end as they began.

Run as a program, it hands `one_input` to libFuzzer (the Makefile preloads the sanitizer
runtime); tests/test_fuzz.py replays tests/fuzz/corpus through `one_input` against the
ordinary build.
"""

import array
import bisect
import ctypes
import ctypes.util
import functools
import gc
import operator
import reprlib
import signal
import struct
import sys
import time
import warnings
import zlib
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

import atheris
import numpy as np
from tesmar_math import Tesmarmath

# ---- What the harness takes from the suite (tests/), all in this block. ----
# registry.SANITIZER_RUN: whether the suite runs against the sanitizer build.
# registry.EVERY: an entry for every callable the stub declares, with `name`, `method`, `reads`
# (marked "Read only."), `returns` (the stub's annotation), `sample()` (an argument of each
# parameter's kind) and `on(receiver)`, the callable; `parameters` below reads its parameters.
# registry.INNER: label -> (callable, whether it only reads), what may call back into a
# receiver, and call_inner(label, receiver) calls it. registry.outcome(call, *args): a call's
# result or exception, comparable across calls.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from registry import EMPTY, EVERY, INNER, SANITIZER_RUN, call_inner, key, outcome  # noqa: E402
from test_fuzz import check_documented  # noqa: E402 - the suite's rule for exceptions
from test_surface import BORROWED  # noqa: E402 - the refusals' messages, by "only reads"


def parameters(entry):
    """(name, kind, required) of each parameter; kinds: real, int, count, numbers, integers."""
    return [(name, kind.name, default is EMPTY) for name, kind, default in entry.params]


def panic_exception():
    """The module's PanicException class, which exists once a call has failed inside: the
    result of a call whose first allocation fails."""
    import _testcapi  # noqa: PLC0415 - only here

    receiver, caught = Tesmarmath(3.0), None
    _testcapi.set_nomemory(0, 1)
    try:
        receiver.square()
    except BaseException as error:  # noqa: BLE001
        caught = error
    finally:
        _testcapi.remove_mem_hooks()
    assert type(caught).__name__ == "PanicException", repr(caught)
    return type(caught)


class Ring:
    """Picks a name by a drawn 32-bit point: each name owns the arcs that end at its points, so
    adding or removing a name moves only the inputs whose point lands on that name's arcs."""

    POINTS = 64  # a name's share of the ring is 1 / len(names) within a few percent

    def __init__(self, names):
        self.points = sorted(
            (zlib.crc32(f"{name} {i}".encode()), name) for name in names for i in range(self.POINTS)
        )
        self.keys = [point for point, _ in self.points]

    def __call__(self, point):
        return self.points[bisect.bisect_left(self.keys, point) % len(self.points)][1]


# ---- What may be called and with what. ----
TARGETS = {repr(entry): entry for entry in EVERY} | {"repr()": repr, "str()": str}
# A nested call of a hostile number: the callables that take an argument.
REENTERED = {repr(entry): entry for entry in EVERY if entry.params}
RETURNS = {"float": float, "int": int, "bool": bool, "Tesmarmath": Tesmarmath, "Self": Tesmarmath}
# The constructor's routes: CPython's binding checks keyword names for some, not all.
CONSTRUCTOR_ROUTES = [(Tesmarmath, ()), (Tesmarmath.__new__, (Tesmarmath,))]
CONSTRUCTOR_ROUTES += [(type.__call__, (Tesmarmath,))]
KEYWORDS = ["x", "é", "\udcff"]  # no parameter has these names; the last has no UTF-8 form
NOT_STRINGS = [1, None, b"number", 2.5, ("number",)]  # keyword names that are not str
OWN = "hostile"  # the message of every error a hostile object raises
# A signal handler's: it may come as the module returns, after a method stored its number.
HANDLER = "hostile handler"
PANIC = panic_exception()
PANIC_TEXTS = [OWN, "\udcff " + OWN, "é " + OWN]  # the second has no UTF-8 form
RECURSION_LIMITS = [None, 4_000, 20_000, 100_000]  # None: as it is
NESTING = [2, 60, 3_000, 100_000]  # nested calls of a re-entering number
SIGNAL = signal.SIGRTMIN + 3  # ours alone: libFuzzer's timeout owns SIGALRM
DELAYS = [1e-5, 1e-4, 1e-3, 5e-3]  # a timer's delay before its signal, in seconds


class TypeErrorSubclass(TypeError):
    """Not a TypeError itself: passed on as it is, not as a conversion's TypeError."""


OWN_ERRORS = [ValueError, TypeError, OverflowError, ZeroDivisionError, IndexError, RuntimeError]
OWN_ERRORS += [StopIteration, MemoryError, KeyboardInterrupt, TypeErrorSubclass]
# CPython's own messages about the caller's objects, passed through as they are.
FOREIGN = [
    (NotImplementedError, "multi-dimensional sub-views are not implemented"),
    (NotImplementedError, "memoryview: format w not supported"),
    (ValueError, "operation forbidden on released memoryview object"),
    (ValueError, "cannot convert signaling NaN to float"),
    (ValueError, "chr() arg not in range(0x110000)"),  # an array.array of code points
    (ValueError, "could not convert string to float: "),  # numpy's bytes items
    (TypeError, "keywords must be strings"),
]
SPECIAL_FLOATS = [0.0, -0.0, 1.0, -1.0, 0.5, 2.5, -2.5, 3.0, 20.0, 21.0, 33.0, 34.0, 1e-12]
SPECIAL_FLOATS += [float("inf"), float("-inf"), float("nan"), 2.0**53, 2.0**63, -(2.0**63)]
SPECIAL_FLOATS += [2.0**64, 1e16, 3e19, 1e300, 5e-324, 2.2250738585072014e-308, 1.5707963267948966]
SPECIAL_FLOATS += [3.141592653589793, 1.7976931348623157e308, 0.1, -1e-300]
EDGE_INTS = [s * (2**b + d) for b in (30, 60, 62, 63, 64) for d in (-1, 0, 1) for s in (1, -1)]
ARRAY_CODES = "bBuwhHiIlLqQfd"
NUMPY_TYPES = ["?", "i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "f2", "f4", "f8", "g"]
NUMPY_TYPES += ["c8", "c16", ">i4", ">f8", "<u8", "M8[s]", "m8[s]", "S3", "V2", "O"]
BUFFERS = (bytes, bytearray, memoryview, array.array, np.ndarray)  # read where their items lie
# Lengths around the module's signal-poll interval (2**18 items), for a repeated item.
LONG = [2**18 - 1, 2**18, 2**18 + 1]


IMMORTAL = sys.getrefcount(None)  # the reference count of every immortal object
repr_short = reprlib.Repr(maxlist=8, maxstring=60, maxother=60).repr


def double(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def exception_pending():
    """Whether this Python code runs with an exception set: CPython then refuses the result of
    a C function, with SystemError."""
    try:
        operator.call(len, ())
    except SystemError:
        return True
    return False


class TimeSpec(ctypes.Structure):
    _fields_ = [("seconds", ctypes.c_long), ("nanoseconds", ctypes.c_long)]


class TimerSpec(ctypes.Structure):
    _fields_ = [("interval", TimeSpec), ("value", TimeSpec)]


class SignalEvent(ctypes.Structure):  # struct sigevent, SIGEV_SIGNAL
    _fields_ = [("value", ctypes.c_void_p), ("signal", ctypes.c_int), ("notify", ctypes.c_int)]
    _fields_ += [("rest", ctypes.c_int * 12)]


class Timer:
    """A POSIX timer that sends SIGNAL once, after a delay of microseconds (setitimer's precise
    timer sends SIGALRM, libFuzzer's; its others count CPU time in ticks of milliseconds)."""

    def __init__(self):
        libc = ctypes.CDLL(None, use_errno=True)
        if not hasattr(libc, "timer_create"):  # glibc before 2.34 keeps it in librt
            libc = ctypes.CDLL(ctypes.util.find_library("rt"), use_errno=True)
        self.set_time = libc.timer_settime
        self.set_time.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
        self.id = ctypes.c_void_p()
        event = SignalEvent(signal=SIGNAL, notify=0)
        if libc.timer_create(time.CLOCK_MONOTONIC, ctypes.byref(event), ctypes.byref(self.id)):
            raise OSError(ctypes.get_errno(), "timer_create")

    def start(self, seconds):  # 0 stops it
        value = TimeSpec(int(seconds), int(seconds % 1 * 1e9))
        self.set_time(self.id, 0, ctypes.byref(TimerSpec(value=value)), None)


TIMER = Timer()


# ---- Hostile classes. `act` runs before each answer (see Act). ----
class HostileFloat:
    """A number by __float__ alone, which returns `answer`, a float or not."""

    def __init__(self, act, answer):
        self.act, self.answer = act, answer

    def __float__(self):
        self.act()
        return self.answer


class HostileIndex:
    """An integer by __index__ alone, which returns `answer`, an int or not."""

    def __init__(self, act, answer):
        self.act, self.answer = act, answer

    def __index__(self):
        self.act()
        return self.answer


class IntWithFloat(int):
    """An int whose own __float__ answers something else: a real parameter calls it."""

    def __new__(cls, value, act, answer):
        number = super().__new__(cls, value)
        number.act, number.answer = act, answer
        return number

    def __float__(self):
        self.act()
        return self.answer


class FloatWithIndex(float):
    """A float with an __index__: an integer parameter calls it; a real one reads the float."""

    def __new__(cls, value, act, answer):
        number = super().__new__(cls, value)
        number.act, number.answer = act, answer
        return number

    def __index__(self):
        self.act()
        return self.answer


class Reentrant:
    """A number whose __float__ and __index__ first call `entry` on a fresh receiver with a
    Reentrant one level shallower as its first argument (the only item of a list), `levels`
    calls deep; the last answers 1."""

    def __init__(self, entry, levels):
        self.entry, self.levels = entry, levels

    def __float__(self):
        self.enter()
        return 1.0

    def __index__(self):
        self.enter()
        return 1

    def enter(self):
        if self.levels == 0:
            return
        first, *rest = self.entry.sample()
        inner = Reentrant(self.entry, self.levels - 1)
        self.entry.on(Tesmarmath(1.0))([inner] if type(first) is list else inner, *rest)


class HostileName(str):
    """A keyword name, a str, whose __eq__ runs `act` first."""

    def __new__(cls, name, act):
        text = super().__new__(cls, name)
        text.act = act
        return text

    def __eq__(self, other):
        self.act()
        return str.__eq__(self, other)

    __hash__ = str.__hash__


class HostileKey:
    """A keyword name that is not a str, hashed as `name`, whose __eq__ runs `act` and answers
    `equal`."""

    def __init__(self, name, act, equal):
        self.name, self.act, self.equal = name, act, equal

    def __eq__(self, other):
        self.act()
        return self.equal

    def __hash__(self):
        return hash(self.name)


class Unprintable:
    """A message that cannot be made into text: str() of an exception holding it fails."""

    def __str__(self):
        raise ValueError(OWN)


def unprintable_type_error(_message):
    return TypeError(Unprintable())


class PlainListSubclass(list):
    """A list subclass: read by iteration, not by index."""


class LyingLength:
    """A sequence by __getitem__ (IndexError past its items) whose __len__ runs `act`, then
    answers `length`, or raises it when it is an exception class."""

    def __init__(self, items, length, act):
        self.items, self.length, self.act = items, length, act

    def __len__(self):
        self.act()
        if isinstance(self.length, type):
            raise self.length(OWN)
        return self.length

    def __getitem__(self, index):
        return self.items[index]


class OddIterable:
    """A sequence whose __iter__ runs `act`, then returns `iterator`, an iterator or not."""

    def __init__(self, items, act, iterator):
        self.items, self.act, self.iterator = items, act, iterator

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        self.act()
        return self.iterator


class HostileIterator:
    """Yields its items; at item `at`, __next__ runs `act` first."""

    def __init__(self, items, at, act):
        self.items, self.at, self.act, self.position = items, at, act, 0

    def __iter__(self):
        return self

    def __next__(self):
        if self.position == self.at:
            self.act()
        if self.position >= len(self.items):
            raise StopIteration
        self.position += 1
        return self.items[self.position - 1]


class Act:
    """What hostile code does, during the call only: a dunder before it answers, the signal
    handler when the signal comes. Nothing, raise the caller's own error or a PanicException,
    call back into the receiver (letting the refusal escape or not), change a list being read,
    resize or release a buffer being read, drop the caller's references (`release`), raise the
    signal now or start its timer."""

    def __init__(self, call, what, detail):
        self.call, self.what, self.detail = call, what, detail

    def __call__(self):
        call = self.call
        if not call.inside:
            return  # the harness itself, building a keyword dict, say
        if exception_pending():
            call.pending.append(self.what)
        if self.what == "raise":
            error, text = self.detail
            if error is PANIC:
                call.panics.append(text)
            raise error(text)
        if self.what == "call back":
            call.call_back(*self.detail)
        elif self.what == "mutate":
            call.mutate(*self.detail)
        elif self.what == "resize":
            call.resize(*self.detail)
        elif self.what == "release":
            call.release()
        elif self.what == "signal now":
            signal.raise_signal(SIGNAL)  # its handler runs before this returns
        elif self.what == "signal later":
            TIMER.start(self.detail)


class Call:
    """One call: the receiver, what calls back into it met, the lists and buffers under
    conversion, what the signal handler does, what hostile code did."""

    def __init__(self, receiver):
        self.receiver = receiver  # None once the caller holds it no more
        self.holds = key(receiver.get_number())  # what it must hold if the call fails
        self.lists = []
        self.buffers = []
        self.refused = []  # (message, whether the inner callable only reads)
        self.entered = False
        self.stirred = False  # the handler's call back ran, maybe after the call stored its number
        self.changed_lists = False
        self.inside = False  # the module's call is under way
        self.shielded = False  # a call back is under way: the handler waits
        self.handler = Act(self, "none", None)  # what the signal handler does
        self.partial = None  # the functools.partial that makes the call, holding its arguments
        self.dropping = False  # the partial alone holds some of the call's objects
        self.resized = False  # hostile code resized or released a buffer
        self.deep = False  # a Reentrant number is among the arguments
        self.long = False  # a sequence long enough for the module to poll for signals
        self.panics = []  # the texts of the PanicExceptions hostile code raised
        self.pending = []  # acts that ran with an exception pending

    def on_signal(self, _signum, _frame):
        if self.inside and not self.shielded:
            self.handler()

    def call_back(self, label, escape, strict=True):
        if self.receiver is None:
            return
        self.shielded = True  # the handler's exception would be taken for the inner call's
        try:
            call_inner(label, self.receiver)
        except RuntimeError as error:
            self.refused.append((str(error), INNER[label][1]))
            if escape:
                raise
        except Exception:  # noqa: BLE001 - the inner call's own error: it ran
            self.entered, self.stirred = self.entered or strict, self.stirred or not strict
        else:
            self.entered, self.stirred = self.entered or strict, self.stirred or not strict
            self.holds = key(self.receiver.get_number())
        finally:
            self.shielded = False

    def mutate(self, which, how):
        if not self.lists:
            return
        items = self.lists[which % len(self.lists)]
        self.changed_lists = True
        if how == 0:
            items.clear()
        elif how == 1:
            items.append(1.5)
        elif how == 2 and items:
            items.pop()
        elif how == 3:
            del items[: len(items) // 2]
        elif how == 4:
            items.extend([2.0] * 64)
        else:
            items[:] = ["x"]

    def resize(self, which, size):
        """Resizes a buffer, or releases a memoryview: refused with BufferError while the module
        reads it, except numpy's resize without its reference check, which frees the memory."""
        if not self.buffers:
            return
        buffer = self.buffers[which % len(self.buffers)]
        self.resized = True
        try:
            if isinstance(buffer, np.ndarray):
                # Not a view's owner: numpy itself then reads freed memory through the view.
                if buffer.base is None and buffer.flags.c_contiguous:
                    buffer.resize(size, refcheck=False)
            elif isinstance(buffer, memoryview):
                buffer.release()
            elif size <= len(buffer) and not isinstance(buffer, bytes):
                del buffer[size:]
            elif isinstance(buffer, bytearray):
                buffer.extend(bytes(size - len(buffer)))
            elif isinstance(buffer, array.array):
                buffer.frombytes(bytes((size - len(buffer)) * buffer.itemsize))
        except BufferError:
            pass  # exported: the module reads it

    def release(self):
        self.partial.__setstate__((len, (), None, None))  # frees the arguments it held


class Maker:
    """Draws every value of one call from the fuzzer's bytes. Once they run out every draw is
    0: route 0 of every choice is the plain one, and `chance` is false."""

    def __init__(self, data):
        self.fdp, self.call = atheris.FuzzedDataProvider(data), None

    def below(self, n):
        return self.fdp.ConsumeIntInRange(0, n - 1)

    def pick(self, options):
        return options[self.below(len(options))]

    def chance(self, one_in):
        return self.below(one_in) == one_in - 1

    def by_name(self, ring, table):
        return table[ring(self.fdp.ConsumeUInt(4))]

    def real(self):
        how = self.below(6)
        if how == 1:
            return double(self.fdp.ConsumeUInt(8))
        if how == 2:  # subnormal
            return double(self.fdp.ConsumeUInt(7) | self.below(2) << 63)
        if how == 3:  # NaN with a payload
            return double(0x7FF0_0000_0000_0001 | self.fdp.ConsumeUInt(7) | self.below(2) << 63)
        if how == 4:
            return float(self.fdp.ConsumeIntInRange(-40, 40))
        if how == 5:
            return self.fdp.ConsumeRegularFloat()
        return self.pick(SPECIAL_FLOATS)

    def integer(self):
        how = self.below(4)
        if how == 1:
            return self.pick(EDGE_INTS)
        if how == 2:
            return self.fdp.ConsumeInt(1 + self.below(48))
        return self.fdp.ConsumeIntInRange(-3, 40)

    def act(self, calls_back=True):
        what = self.pick(["none", "raise", "call back", "mutate", "resize", "release", "signal"])
        if what == "raise":
            error = self.pick([*OWN_ERRORS, unprintable_type_error, PANIC])
            return Act(self.call, what, (error, self.pick(PANIC_TEXTS) if error is PANIC else OWN))
        if what == "call back":
            if not calls_back:
                return Act(self.call, "none", None)
            return Act(self.call, what, (self.pick(list(INNER)), self.chance(2)))
        if what == "resize":
            return Act(self.call, what, (self.below(8), self.pick([0, 1, 16, 2**18 + 2])))
        if what == "signal":
            return Act(self.call, self.pick(["signal now", "signal later"]), self.pick(DELAYS))
        return Act(self.call, what, (self.below(8), self.below(6)))

    def handler(self):
        """What the signal handler does: an act that raises no signal itself."""
        what = self.pick(["none", "raise", "call back", "mutate", "resize", "release"])
        if what == "raise":
            return Act(self.call, what, (self.pick(OWN_ERRORS), HANDLER))
        if what == "call back":  # it may come before the module holds the receiver
            return Act(self.call, what, (self.pick(list(INNER)), self.chance(2), False))
        if what == "resize":
            return Act(self.call, what, (self.below(8), self.pick([0, 16, 2**18 + 2])))
        return Act(self.call, what, (self.below(8), self.below(6)))

    def answer(self, integral):  # what a hostile dunder returns: mostly right, sometimes not
        if self.chance(4):
            return self.junk()
        return self.integer() if integral else self.real()

    def junk(self):
        options = ["x", b"\xff", None, 1j, Fraction(1, 3), Fraction(10**400), Decimal("1.5")]
        options += [Decimal("sNaN"), {}, set(), object(), self.call.receiver, Tesmarmath(1.0)]
        options += [float, Ellipsis, [], ()]
        return self.pick(options)

    def reentrant(self):
        self.call.deep = True
        return Reentrant(self.by_name(REENTERED_RING, REENTERED), self.pick(NESTING))

    def scalar(self, integral):
        how = self.below(15)
        if how == 1:
            return self.junk()
        if how == 2:
            return HostileFloat(self.act(), self.answer(False))
        if how == 3:
            return HostileIndex(self.act(), self.answer(True))
        if how == 4:
            return IntWithFloat(self.integer(), self.act(), self.answer(False))
        if how == 5:
            return FloatWithIndex(self.real(), self.act(), self.answer(True))
        if how == 6:
            return self.numpy_scalar(self.integer() if integral else self.real())
        if how == 7:
            return self.chance(2)
        if how == 14 and self.chance(4):  # slow: tens of milliseconds deep
            return self.reentrant()
        return self.integer() if integral or how == 8 else self.real()

    def numpy_scalar(self, value, types=15):
        with np.errstate(all="ignore"):
            try:
                return np.dtype(self.pick(NUMPY_TYPES[:types])).type(value)
            except (OverflowError, ValueError, TypeError):
                return np.float64(value)

    def items(self, integral, depth):
        return [self.value(integral, depth + 1) for _ in range(self.below(7))]

    def long_sequence(self, integral):
        """A plain item repeated past a signal poll, so that each call stays short; a list or
        tuple may hold a few hostile items at its ends, which a poll's handler may precede."""
        item, length = (
            self.integer() if integral or self.chance(2) else self.real(),
            self.pick(LONG),
        )
        self.call.long = True
        how = self.below(3)
        if how == 2:  # real types: a complex item's warning would cost more than the item
            items = self.numpy_scalar(item, types=13).repeat(length)
            self.call.buffers.append(items)
            return items
        items = [self.scalar(integral) for _ in range(self.below(3))]
        items = [*items[:1], *[item] * length, *items[1:]]
        if how == 1:
            return tuple(items)
        self.call.lists.append(items)
        return items

    def sequence(self, integral, depth):
        if self.chance(64):
            return self.long_sequence(integral)
        how = self.below(12)
        if how in (1, 2):
            return self.buffer()
        if how == 3:
            start = self.integer() if self.chance(4) else self.below(9) - 4
            return range(start, start + self.below(40), self.pick([1, 2, 3, -1, -7]))
        items = self.items(integral, depth)
        if how == 4:
            return tuple(items)
        if how == 5:
            items = PlainListSubclass(items)
        self.call.lists.append(items)  # an act may change it while it is read
        if how == 6:
            return self.pick([iter, lambda items: (item for item in items)])(items)
        if how == 7:
            length = self.pick([2**62, 0, -1, 2**70, "3", *OWN_ERRORS])
            return LyingLength(items, length, self.act())
        if how == 8:
            return OddIterable(items, self.act(), HostileIterator(items, self.below(8), self.act()))
        if how == 9:
            return OddIterable(items, self.act(), self.junk())
        return items

    def buffer(self):
        raw = self.fdp.ConsumeBytes(self.below(97))
        how = self.below(4)
        if how == 1:
            buffer = self.pick([bytes, bytearray])(raw)
        elif how == 2:
            buffer = self.memoryview(raw)
        else:
            buffer = self.numpy_array(raw)
        self.call.buffers.append(buffer)
        return buffer

    def memoryview(self, raw):
        code = self.pick(ARRAY_CODES)
        typed = array.array(code)
        typed.frombytes(raw[: len(raw) - len(raw) % typed.itemsize])
        if self.chance(2) or not len(typed):
            return typed
        view, how = memoryview(typed), self.below(5)
        if how == 1 and len(typed) % 2 == 0 and code not in "uw":
            return view.cast("B").cast(code, [2, len(typed) // 2])
        if how == 4 and code not in "uw":  # a native format spelled with its '@'
            return view.cast("B").cast("@" + code)
        if how == 2:
            return view[:: self.pick([2, -1, -3])]
        if how == 3:
            view.release()
        return view

    def numpy_array(self, raw):
        dtype = np.dtype(self.pick(NUMPY_TYPES))
        if dtype.hasobject:  # scalars only: numpy would call a hostile sequence's __len__
            return np.array([self.scalar(False) for _ in range(self.below(7))], dtype=object)
        values = np.frombuffer(raw[: len(raw) - len(raw) % dtype.itemsize], dtype=dtype).copy()
        how = self.below(7)
        if how == 1 and values.size:
            return values[:1].reshape(())
        if how == 2 and values.size >= 4:
            rows = values[: values.size // 2 * 2].reshape(2, -1)
            return rows.T if self.chance(2) else rows
        if how == 3 and values.size >= 8:
            return values[:8].reshape(2, 2, 2)
        if how == 4:
            return values[:: self.pick([2, -1, -2, 3])]
        if how == 5 and values.size:
            return np.broadcast_to(values[:1], (self.below(9),))  # stride 0
        if how == 6:
            return values.astype(values.dtype.newbyteorder())
        return values

    def value(self, integral, depth=0):
        if depth < 2 and self.chance(8):
            return self.sequence(integral, depth)
        return self.scalar(integral)

    def argument(self, kind):
        if self.chance(6):  # any kind of value at all
            return self.sequence(False, 0) if self.chance(2) else self.value(self.chance(2))
        if kind in ("numbers", "integers"):
            return self.sequence(kind == "integers", 0)
        return self.scalar(kind != "real")

    def keyword(self, names):
        """A keyword's name: a parameter's, another, or one that is not a str; maybe hostile."""
        how = self.below(6)
        name = self.pick(names + KEYWORDS)
        if how == 1:
            return self.pick(NOT_STRINGS)
        if how == 2:
            return HostileName(name, self.act(calls_back=False))  # it may run while binding
        if how == 3:
            return HostileKey(name, self.act(calls_back=False), self.chance(2))
        return name

    def arguments(self, entry):
        names = [name for name, _, _ in parameters(entry)]
        kinds = [kind for _, kind, _ in parameters(entry)]
        if self.chance(8):  # any shape at all
            args = [self.value(self.chance(2)) for _ in range(self.below(4))]
            keywords = [self.keyword(names) for _ in range(self.below(3))]
            return args, {name: self.value(self.chance(2)) for name in keywords}
        required = sum(required for _, _, required in parameters(entry))
        count = len(names) - self.below(len(names) - required + 1)
        values = [self.argument(kind) for kind in kinds[:count]]
        split = count - self.below(count + 1)  # all by position, unless drawn
        return values[:split], dict(zip(names[split:count], values[split:], strict=True))


TARGET_RING = Ring(TARGETS)
REENTERED_RING = Ring(REENTERED)


# ---- The checks. ----
def accepted_error(error, target, call):
    """Whether the call may raise `error`: the caller's own, a refused call back let out,
    CPython's message about the caller's object, a PanicException passed on with its text,
    RecursionError of a nested call, a buffer that changed under the module's reading, or what
    the suite's rule documents."""
    if error.args in ((OWN,), (HANDLER,)) and type(error) in OWN_ERRORS:
        return True
    if type(error) is PANIC and call.panics:
        assert error.args[0] in call.panics, f"{target}: a passed-on panic lost its text"
        return True
    if type(error) is RecursionError and call.deep:
        return True
    if type(error) is BufferError and call.resized and str(error).startswith("the buffer"):
        return True
    if type(error) is RuntimeError and error.args and error.args[0] in BORROWED.values():
        return any(message == error.args[0] for message, _ in call.refused)
    if any(type(error) is t and str(error).startswith(text) for t, text in FOREIGN):
        return True
    if target in (repr, str):
        return False
    check_documented(error, target)
    return True


def check_result(result, target, call):
    receiver = call.receiver
    assert type(result) is (str if target in (repr, str) else RETURNS[target.returns]), target
    if receiver is None or call.stirred:
        return  # freed, or changed after the call, by hostile code: nothing to compare with
    holds = key(receiver.get_number())
    if target in (repr, str):
        text = str(receiver)
        assert result == (text if target is str else f"Tesmarmath({text})"), result
        if holds != key(float("nan")):  # the shortest digits read back as the number
            assert key(float(text)) == holds, text
    elif target.returns == "Tesmarmath" and target.method:
        assert result is not receiver and key(result.get_number()) == holds, target
    elif target.method and not target.reads:
        assert holds == key(float(result)), f"{target}: the receiver holds another number"
    else:  # a function (the receiver a bystander) or a method that only reads
        assert holds == call.holds, f"{target}: a bystander or a read-only receiver changed"


def check_calls_back(target, call):
    if getattr(target, "method", False):  # a method holds its receiver through the call
        assert not call.entered, f"{target}: a call back into its held receiver ran"
        for message, reads in call.refused:
            assert message == BORROWED[reads], (target, message)
    else:
        assert not call.refused, f"{target}: a call back into a free receiver was refused"


def check_reads_like_its_items(target, stored, arguments):
    """A buffer, read where it lies, gives what its items give, read one by one."""
    lists = [kind for _, kind, _ in parameters(target)] in (["numbers"], ["integers"])
    if not lists or len(arguments) != 1 or type(arguments[0]) not in BUFFERS:
        return
    buffer = arguments[0]
    if isinstance(buffer, np.ndarray) and buffer.dtype.hasobject:
        return  # its items may be hostile
    try:
        items = list(buffer)
    except (TypeError, ValueError, NotImplementedError):
        return  # a 0-d array, a released view, a format memoryview cannot iterate
    read, iterated = Tesmarmath(stored), Tesmarmath(stored)
    got = outcome(target.on(read), buffer), key(read.get_number())
    assert got == (outcome(target.on(iterated), items), key(iterated.get_number())), target


def one_input(data):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        limit = sys.getrecursionlimit()
        try:
            run(data)
        finally:
            TIMER.start(0)
            signal.signal(SIGNAL, signal.SIG_IGN)
            gc.enable()
            sys.setrecursionlimit(limit)


def prepare(maker, call, target):
    """Draws the arguments and how the call is made: a functools.partial that holds the receiver
    (for a method) and the arguments, some of them alone when drawn, so that an act can free
    them mid-call. Returns the partial, the objects whose reference counts must end as they
    began (the arguments the caller holds first) and how many arguments lead them."""
    if target in (repr, str):
        return functools.partial(target, call.receiver), [call.receiver], 0
    args, kwargs = maker.arguments(target)
    function, lead = target.on(call.receiver), ()
    if target.name == "__new__":
        function, lead = maker.pick(CONSTRUCTOR_ROUTES)
    arguments = [*args, *kwargs.values()]
    if not maker.chance(4):
        watched = [*arguments, call.receiver]
        watched += [item for a in arguments if type(a) in (list, tuple) for item in a[:64]]
        return functools.partial(function, *lead, *args, **kwargs), watched, len(arguments)
    call.dropping = True
    if target.method:
        function, lead = getattr(Tesmarmath, target.name), (call.receiver,)
        if maker.chance(2):
            call.receiver = None  # held by the partial alone
    kept = [a for a in arguments if maker.chance(3)]
    call.lists = [items for items in call.lists if any(items is a for a in kept)]
    # The objects that the freed ones cannot hold: not the receiver (a hostile answer, say),
    # nor a number (an item of a freed list may be the same object).
    watched = [a for a in kept if a is not call.receiver and type(a) not in (float, int, complex)]
    return functools.partial(function, *lead, *args, **kwargs), watched, len(watched)


def lent(partial, objects):
    """How many references `partial` holds to each of `objects` (none that count, to an
    immortal object: True, a small int)."""
    held = [getattr(partial.func, "__self__", None), *partial.args]
    held += [one for name_and_value in partial.keywords.items() for one in name_and_value]
    return [sum(one is o for one in held) * (sys.getrefcount(o) < IMMORTAL) for o in objects]


def run(data):
    maker = Maker(data)
    stored = maker.real()
    call = maker.call = Call(Tesmarmath(stored))
    target = maker.by_name(TARGET_RING, TARGETS)
    call.partial, watched, arguments = prepare(maker, call, target)
    limit = maker.pick(RECURSION_LIMITS) if call.deep else None
    if SANITIZER_RUN and not FUZZING:
        limit = None  # the suite's sanitizer build (-O0) needs more stack than 8 MiB above it
    call.handler = maker.handler()
    delay = maker.pick(DELAYS) if maker.chance(2 if call.long else 8) else 0
    # The partial lets its references go at the end, or when an act releases it.
    held = lent(call.partial, watched)
    gc.disable()  # the collector, freeing an earlier call's cycles, would change counts
    counts = [sys.getrefcount(o) for o in watched]
    if limit is not None:
        sys.setrecursionlimit(limit)
    signal.signal(SIGNAL, call.on_signal)
    try:
        if delay:
            TIMER.start(delay)
        call.inside = True
        result = call.partial()
    except BaseException as error:  # noqa: BLE001
        call.inside = False
        TIMER.start(0)
        assert accepted_error(error, target, call), repr_short(error)
        if call.receiver is not None and error.args != (HANDLER,) and not call.stirred:
            assert key(call.receiver.get_number()) == call.holds, f"{target}: it changed, failing"
    else:
        call.inside = False
        TIMER.start(0)
        check_result(result, target, call)
        del result
    assert not call.pending, f"{target}: Python code ran with an exception pending: {call.pending}"
    check_calls_back(target, call)
    if call.receiver is not None:  # it ends free
        assert key(call.receiver.mult_of([]).get_number()) == key(call.receiver.get_number())
    call.release()
    after = [sys.getrefcount(o) for o in watched]
    gc.enable()
    call.lists.clear()  # no cycle through the call is left behind
    call.buffers.clear()
    call.handler = None
    changed = [i for i, (n, m) in enumerate(zip(counts, after, strict=True)) if n - held[i] != m]
    if call.changed_lists:  # the items an act removed took their references along
        changed = [i for i in changed if i < arguments and watched[i] is not call.receiver]
    assert not changed, (
        f"{target}: reference counts changed: {repr_short([watched[i] for i in changed])}"
    )
    if target not in (repr, str) and not (call.dropping or call.resized):
        check_reads_like_its_items(target, stored, watched[:arguments])


FUZZING = False  # under libFuzzer, not replayed by the suite


def main():
    global FUZZING  # noqa: PLW0603
    FUZZING = True
    atheris.Setup(sys.argv, one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
