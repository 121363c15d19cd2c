"""Elementary numeric operations computed natively.

Every operation is a module function that returns a plain ``float``, ``int``
or ``bool``, and (with two exceptions: ``is_integer`` is a function only,
``power_of_2`` a method only) a method of :class:`Tesmarmath` that works on
the instance's stored number, overwrites it with the result and returns a
new ``Tesmarmath`` holding the same value.
"""

from collections.abc import Buffer, Iterator, Sequence
from typing import Final, Protocol, Self, SupportsFloat, SupportsIndex, final

class _Array[T](Buffer, Protocol):
    """A one-dimensional array (numpy's ndarray, array.array): read from its
    memory where its items are native numbers, otherwise by iteration."""

    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[T]: ...

# A number list and an integer list: a sequence other than str, or an array.
type _Numbers = Sequence[SupportsFloat | SupportsIndex] | _Array[SupportsFloat | SupportsIndex]
type _Integers = Sequence[SupportsIndex] | _Array[SupportsIndex]
# A count of terms: an unsigned 64-bit int (a negative one raises OverflowError).
type _Count = SupportsIndex

__all__ = [
    "Tesmarmath",
    "sum_of",
    "dif_of",
    "div_of",
    "int_div_of",
    "mult_of",
    "square",
    "cube",
    "power",
    "square_root",
    "cube_root",
    "factorial",
    "gcd_with_int",
    "gcd_with_float",
    "lcm_with",
    "floor",
    "ceil",
    "is_positive",
    "is_negative",
    "is_integer",
    "sign",
    "is_even",
    "is_odd",
    "cos",
    "sin",
    "tan",
    "tetration",
    "number_pi",
    "number_e",
    "infinity",
]

@final
class Tesmarmath:
    """A mutable accumulator wrapping one double, the stored number.

    ``Tesmarmath(number)`` accepts anything with ``__float__`` or
    ``__index__``. Computing methods overwrite the stored number and return a
    new instance holding it (``cos``/``sin``/``tan`` return a float and
    ``gcd_with_float`` an int instead). A failing method leaves the stored
    number unchanged (unless memory runs out as the result object is made:
    PanicException, with the new number stored). Calling back into an
    instance from inside one of its own calls (from an argument's
    ``__float__``) raises ``RuntimeError`` "Already borrowed" or "Already
    mutably borrowed": a method marked "Read only." only reads the stored
    number, so called back it meets "Already mutably borrowed", and every
    other method meets "Already borrowed". Not subclassable; equality is
    identity.
    """

    def __new__(cls, number: SupportsFloat | SupportsIndex) -> Self:
        """Wrap ``float(number)`` as the stored number."""

    def get_number(self) -> float:
        """Return the stored number unchanged. Read only."""

    def sum_of(self, args: _Numbers) -> Tesmarmath:
        """Set the stored number s to ``sum_of(args) + s``: the items are summed
        left to right first, s is added last."""

    def dif_of(self, args: _Numbers) -> Tesmarmath:
        """Set the stored number s to ``s - dif_of(args)``, that is
        s - (a0 - a1 - ...); an empty list leaves s."""

    def div_of(self, args: _Numbers) -> Tesmarmath:
        """Set the stored number s to s / a0 / a1 / ...: every item divides.

        Raises ZeroDivisionError "Can't divide by zero!" for a zero item
        (0.0 or -0.0; NaN is not zero); the stored number is then unchanged.
        """

    def int_div_of(self, args: _Integers) -> Tesmarmath:
        """Truncate the stored number s to a 64-bit int (saturating; NaN gives
        0), divide it by every item with truncation, store the quotient.

        An empty list leaves s as it is, even when fractional. The quotient
        is exact (-2**63 // -1 stores 2**63). Raises ZeroDivisionError
        "Can't divide by zero!" for a zero item.
        """

    def mult_of(self, args: _Numbers) -> Tesmarmath:
        """Set the stored number s to s * a0 * a1 * ..., left to right."""

    def square(self) -> Tesmarmath:
        """Set the stored number s to s * s."""

    def cube(self) -> Tesmarmath:
        """Set the stored number s to (s * s) * s; overflow gives an infinity."""

    def power(self, exponent: SupportsFloat | SupportsIndex) -> Tesmarmath:
        """Set the stored number s to the C library's pow(s, exponent); NaN
        and infinities are results, not errors."""

    def power_of_2(self) -> Tesmarmath:
        """Set the stored number s to 2 ** s (exp2). Method only: the module
        has no such function."""

    def square_root(self) -> Tesmarmath:
        """Set the stored number s to its correctly rounded square root.

        Raises ValueError "Cannot calculate square root of a negative number"
        when s < 0 (-0.0 and NaN pass); the stored number is then unchanged.
        """

    def cube_root(self) -> Tesmarmath:
        """Set the stored number s to its correctly rounded real cube root
        (exact for perfect cubes)."""

    def factorial(self) -> Tesmarmath:
        """Set the stored number to n! as a float, n being it truncated to a
        128-bit int (saturating; NaN gives 0).

        Accepts n up to 33. Raises ValueError "Factorial overflow." (with a
        full stop, unlike the module's) above it and "The factorial of a
        negative number is not defined." below 0; -0.5 counts as 0.
        """

    def gcd_with_int(self, args: _Integers) -> Tesmarmath:
        """Set the stored number to the gcd of the 64-bit int items (never
        negative; zeros skipped); its old value takes no part.

        Raises ValueError "gcd_with_int() requires at least one argument" for
        an empty list.
        """

    def gcd_with_float(self, args: _Numbers) -> int:
        """Round every item half away from zero, take the gcd, make it the
        stored number (as a float) and return it as the exact int, the
        module function's result.

        Raises ValueError "gcd_with_float() requires at least one argument"
        for an empty list.
        """

    def lcm_with(self, args: _Numbers) -> Tesmarmath:
        """Set the stored number to ``lcm_with(args)``, folded pairwise; its old
        value takes no part and an empty list stores 0.0."""

    def floor(self) -> Tesmarmath:
        """Set the stored number s to floor(s), a float (NaN and infinities
        stay; no int conversion, unlike the module function)."""

    def ceil(self) -> Tesmarmath:
        """Set the stored number s to ceil(s), a float (NaN and infinities
        stay; no int conversion, unlike the module function)."""

    def sign(self) -> Tesmarmath:
        """Set the stored number to its sign, 1.0, -1.0 or 0.0 (zeros and NaN
        give +0.0)."""

    def is_positive(self) -> bool:
        """Whether the stored number is > 0 (False for zeros and NaN). Read
        only."""

    def is_negative(self) -> bool:
        """Whether the stored number is < 0 (False for -0.0 and NaN). Read
        only."""

    def is_even(self) -> bool:
        """Whether fmod(stored number, 2) == 0: only even whole numbers are
        even. Read only."""

    def is_odd(self) -> bool:
        """``not is_even()``: 2.5, NaN and the infinities are odd. Read only."""

    def cos(self, terms: _Count = 20) -> float:
        """Cosine of the stored number by its power series (at most ``terms``
        terms); stores the float and returns it.

        Unlike the module function, terms=0 sums one term (1.0). Raises
        OverflowError for a negative ``terms``.
        """

    def sin(self, terms: _Count = 20) -> float:
        """Sine of the stored number by its power series (at most ``terms``
        terms); stores the float and returns it.

        Unlike the module function, terms=0 sums one term (the reduced
        argument). Raises OverflowError for a negative ``terms``.
        """

    def tan(self, terms: _Count = 20) -> float:
        """Tangent of the stored number: the sine series over the cosine
        series; stores the float and returns it.

        Raises ZeroDivisionError "Tangent undefined (cos close to 0)" when
        |cos| < 1e-12, leaving the stored number unchanged. terms=0 or 1
        returns the reduced argument.
        """

    def tetration(self, height: SupportsIndex) -> Tesmarmath:
        """Set the stored number s to the power tower s ** (s ** (... ** s))
        of ``height`` levels.

        Height 0 gives 1.0, height 1 gives s. Raises ValueError "Height
        can't be negative" and "The result is too big (infinity)". Any height
        up to 2**63 - 1 finishes quickly when the tower repeats; in the main
        thread Ctrl-C interrupts a long one (KeyboardInterrupt, s unchanged).
        """

def sum_of(args: _Numbers) -> float:
    """Sum the items left to right starting from -0.0 (so [] gives -0.0).

    The method instead adds the stored number after the items.
    """

def dif_of(args: _Numbers) -> float:
    """a0 - a1 - a2 - ... left to right; [] gives 0.0.

    The method computes stored - dif_of(args).
    """

def div_of(args: _Numbers) -> float:
    """a0 / a1 / a2 / ... left to right; [] gives 0.0.

    Raises ZeroDivisionError "Division by zero!" for a zero divisor (the
    first item is not a divisor). The method divides the stored number by
    every item and words the error "Can't divide by zero!".
    """

def int_div_of(args: _Integers) -> int:
    """a0 // a1 // ... on 64-bit ints, truncating toward zero; [] gives 0.

    Exact: -2**63 divided by -1 gives 2**63. Raises ZeroDivisionError
    "Division by zero!" for a zero divisor; floats are refused (TypeError).
    """

def mult_of(args: _Numbers) -> float:
    """a0 * a1 * a2 * ... left to right; [] gives 1.0.

    The method multiplies the stored number by every item.
    """

def square(number: SupportsFloat | SupportsIndex) -> float:
    """number * number; overflow gives an infinity."""

def cube(number: SupportsFloat | SupportsIndex) -> float:
    """(number * number) * number; overflow gives an infinity."""

def power(
    number: SupportsFloat | SupportsIndex, exponent: SupportsFloat | SupportsIndex
) -> float:
    """The C library's pow(number, exponent); NaN and infinities are results,
    not errors (power(-8, 1/3) is nan)."""

def square_root(number: SupportsFloat | SupportsIndex) -> float:
    """The correctly rounded square root.

    Raises ValueError "Cannot calculate square root of a negative number"
    when number < 0 (-0.0 and NaN pass).
    """

def cube_root(number: SupportsFloat | SupportsIndex) -> float:
    """The correctly rounded real cube root (cube_root(-27) is -3.0)."""

def factorial(number: SupportsIndex) -> int:
    """number! on 64-bit ints, for 0 <= number <= 20.

    Raises ValueError "Factorial overflow" above 20 and "The factorial of a
    negative number is not defined." below 0; a float is refused (TypeError).
    The method works on 128 bits (up to 33) and returns a float.
    """

def gcd_with_int(args: _Integers) -> int:
    """Greatest common divisor of 64-bit ints: never negative, zeros skipped
    ([0] gives 0, [-2**63] gives 2**63).

    Raises ValueError "gcd_with_int() requires at least one argument" for an
    empty list; floats are refused (TypeError).
    """

def gcd_with_float(args: _Numbers) -> int:
    """gcd of the items rounded half away from zero (NaN counts as 0, inf as
    2**63 - 1, -inf as -2**63); never negative.

    Raises ValueError "gcd_with_float() requires at least one argument" for
    an empty list.
    """

def lcm_with(args: _Numbers) -> float:
    """Least common multiple folded pairwise in floating point:
    m = m * |b| / gcd_with_float([m, |b|]) from m = |a0|; a zero gcd or []
    gives 0.0.

    Fractional items stay fractional (lcm_with([2.5, 3.0]) is 2.5).
    """

def floor(number: SupportsFloat | SupportsIndex) -> int:
    """floor(number) as an int saturated to 64 bits: NaN gives 0, +-inf and
    huge values give 2**63 - 1 or -2**63. The method keeps the float."""

def ceil(number: SupportsFloat | SupportsIndex) -> int:
    """ceil(number) as an int saturated to 64 bits: NaN gives 0, +-inf and
    huge values give 2**63 - 1 or -2**63. The method keeps the float."""

def is_positive(number: SupportsFloat | SupportsIndex) -> bool:
    """Whether number > 0 (False for zeros and NaN)."""

def is_negative(number: SupportsFloat | SupportsIndex) -> bool:
    """Whether number < 0 (False for -0.0 and NaN)."""

def is_integer(number: SupportsFloat | SupportsIndex) -> bool:
    """Whether number is a whole value (False for NaN and infinities).
    Function only: the class has no such method."""

def sign(number: SupportsFloat | SupportsIndex) -> int:
    """1, -1 or 0 (zeros and NaN give 0). The method stores a float."""

def is_even(number: SupportsIndex) -> bool:
    """Whether the 64-bit int's lowest bit is 0; a float is refused
    (TypeError). The method tests the stored float with fmod."""

def is_odd(number: SupportsIndex) -> bool:
    """Whether the 64-bit int's lowest bit is 1; a float is refused
    (TypeError). The method tests the stored float with fmod."""

def cos(number: SupportsFloat | SupportsIndex, terms: _Count = 20) -> float:
    """Cosine by its power series, at most ``terms`` terms (ends early once
    a term is below 1e-16).

    terms=0 gives 0.0 (the method gives 1.0). Raises OverflowError for a
    negative ``terms``; a float ``terms`` is refused (TypeError).
    """

def sin(number: SupportsFloat | SupportsIndex, terms: _Count = 20) -> float:
    """Sine by its power series, at most ``terms`` terms (ends early once a
    term is below 1e-16).

    terms=0 gives 0.0 (the method gives the reduced argument). Raises
    OverflowError for a negative ``terms``.
    """

def tan(number: SupportsFloat | SupportsIndex, terms: _Count = 20) -> float:
    """Tangent: the sine series divided by the cosine series, same terms.

    Raises ZeroDivisionError "Tangent is undefined: cosine is zero" when
    |cos| < 1e-12, so always for terms=0. The method's message is "Tangent
    undefined (cos close to 0)".
    """

def tetration(base: SupportsFloat | SupportsIndex, height: SupportsIndex) -> float:
    """The power tower base ** (base ** (... ** base)) of ``height`` levels.

    Height 0 gives 1.0, height 1 gives base. Raises ValueError "Height can't
    be negative" and "The result is too big (infinity)"; NaN is a result.
    Any height up to 2**63 - 1 finishes quickly when the tower repeats; in
    the main thread Ctrl-C interrupts a long one (KeyboardInterrupt).
    """

number_pi: Final[float]
"""3.141592653589793, the double nearest pi."""
number_e: Final[float]
"""2.718281828459045, the double nearest e."""
infinity: Final[float]
"""Positive infinity."""
