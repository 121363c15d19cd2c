"""The same bits on every platform: every callable on both surfaces, over a fixed set of arguments
that reaches each edge, hashed: the digest is stored here, and every build on every processor
(GCC's development build, zig's x86-64 and aarch64 release builds) must give it. A NaN counts as
one value whatever its sign, which IEEE-754 leaves to the processor. power, power_of_2 and
tetration call the C library's pow and exp2, whose last bit IEEE-754 leaves open: their results
are checked against this platform's own math instead, only their outcome types hashed.

A change to the arguments is a new version: bump ARGUMENTS_VERSION and store the new digest.
TESMAR_DIGEST_LINES=FILE writes each call's line, to compare two platforms with diff."""

import array
import hashlib
import math
import os

import numpy as np
import tesmar_math as tm
from registry import EVERY, Tesmarmath, c_pow, key, outcome
from test_factorial_tetration import tower

ARGUMENTS_VERSION = 1
DIGEST = "355bdd0543b0dc05dcfe011c27bef7ab42687f162087f65ee030d3d8f730ec10"

INF, NAN = math.inf, math.nan
TOP = 9223372036854774784.0  # the largest double below 2**63: the saturation bounds
REALS = [
    *(0.0, -0.0, 5e-324, -5e-324, 2.225073858507201e-308, 2.2250738585072014e-308, 1e-300),
    *(0.1, 0.5, -0.5, 1.0, -1.0, 1.5, 2.5, -2.5, 3.0, -7.0, math.pi, 1e15 + 0.5),
    *(4503599627370495.5, 2.0**53, TOP, -TOP, 2.0**63, -(2.0**63), 1e300, -1e300),
    *(1.7976931348623157e308, INF, -INF, NAN, -NAN),
    *(0, 7, -12, 2**53 + 1, 2**63 - 1, -(2**63), 2**64, 10**400, True, "1.0"),
]
INTS = [0, 1, -1, 2, 3, 5, 20, 21, 33, 34, 35, 2**31, 2**62, 2**63 - 1, -(2**63), 2**63, 2.0]
COUNTS = [0, 1, 2, 5, 20, 2**64 - 1, -1]
NUMBERS = [
    *([], [0.0], [-0.0], [0.0, -0.0], [1.0, 0.0], [-1.0, 0.0], [-1.0, -0.0], [2.5, -0.5, 4]),
    *([1e308, 1e308], [-1e308, 1e308], [5e-324, 0.5], [5e-324, 2.0], [1e-300, 1e-300]),
    *([INF, -INF], [INF, 0.0], [INF, 2.0], [NAN, 1.0], [TOP, 2], [-TOP, 0.5], [12.0, 18.0]),
    *([0.1] * 10, [3, 2**53 + 1], [6.0, 4.5], [7.5, 2.5, 0.5], [10**400], ["x"]),
    *(array.array("d", [1.5, -2.25]), np.array([6.0, 4.0, 2.0]), np.array([4, 6], dtype=np.int64)),
]
INTEGERS = [
    *([], [0], [7, 0], [12, 18], [-12, 18], [0, 5], [2**63 - 1, 1], [-(2**63), -1]),
    *([-(2**63), 1], [-(2**63), 2], [2**62, 2**62], [5, 3, 2], [2**63 - 1, 2**63 - 2]),
    *([1, 2.0], [1, 2**63], array.array("q", [48, 36]), np.array([9, -3], dtype=np.int64)),
]
BY_KIND = {"real": REALS, "int": INTS, "count": COUNTS, "numbers": NUMBERS, "integers": INTEGERS}
RECEIVERS = [x for x in REALS if isinstance(x, float)]
# What the C library computes, by name: its outcome from this platform's math, for floats.
LIBRARY = {
    "power": lambda x, y: (float, key(c_pow(x, y))),
    "power_of_2": lambda x: (float, key(c_pow(2.0, x))),
    "tetration": tower,
}


def arguments(entry):
    rows = [()]
    for _, kind, _ in entry.params:
        rows = [(*row, value) for row in rows for value in BY_KIND[kind.name]]
    return rows


# (line, outcome, callable, arguments) for every call; a method on a fresh receiver, whose number
# afterwards ends the outcome and which comes first in the arguments.
def calls():
    for entry in EVERY:
        for args in arguments(entry):
            for x in RECEIVERS if entry.method else [None]:
                receiver = Tesmarmath(x if entry.method else 1.0)
                got = outcome(entry.on(receiver), *args)
                after = key(receiver.get_number()) if entry.method else None
                line = f"{entry!r} {'' if x is None else x!r} {args!r}"
                yield line, (*got, after), entry, args if x is None else (x, *args)
    for x in RECEIVERS:
        yield f"text {x!r}", (repr(Tesmarmath(x)), str(Tesmarmath(x))), None, (x,)
    yield "constants", (key(tm.number_pi), key(tm.number_e), key(tm.infinity)), None, ()


def failed(got):
    return isinstance(got[0], type) and issubclass(got[0], BaseException)


# What is hashed: an exception by its type; the C library's value (checked against math) by
# its type alone; the rest whole.
def hashed(got, entry):
    if failed(got):
        return got[0].__name__
    if entry is not None and entry.name in LIBRARY:
        return f"{got[0].__name__} from {entry.name}"
    return repr(tuple(getattr(item, "__name__", item) for item in got))


def test_every_callable_gives_the_stored_digest():
    lines = [(line, hashed(got, entry)) for line, got, entry, _ in calls()]
    if os.environ.get("TESMAR_DIGEST_LINES"):
        with open(os.environ["TESMAR_DIGEST_LINES"], "w") as out:
            out.writelines(f"{line} -> {value}\n" for line, value in lines)
    digest = hashlib.sha256("\n".join(value for _, value in lines).encode()).hexdigest()
    assert (ARGUMENTS_VERSION, len(lines), digest) == (1, 13778, DIGEST), (
        f"{len(lines)} calls, digest {digest}: a new callable or parameter changes both; "
        "check its lines (TESMAR_DIGEST_LINES) on two platforms, then store them here"
    )


def test_the_c_librarys_results_are_this_platforms_math():
    for line, got, entry, args in calls():
        if entry is not None and entry.name in LIBRARY and not failed(got):
            kinds = ["real"] * entry.method + [kind.name for _, kind, _ in entry.params]
            read = [float(a) if k == "real" else a for a, k in zip(args, kinds, strict=True)]
            want = LIBRARY[entry.name](*read)
            assert want is None or got[1] == want[1], line
