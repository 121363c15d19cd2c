"""What a type checker sees of tesmar_math: checked by `mypy --strict examples`.

Every `assert_type` below is verified statically (and is a no-op at run
time); the lines marked `type: ignore[...]` must stay errors, since mypy
--strict reports an ignore that is no longer needed.
"""

from collections.abc import Sequence
from fractions import Fraction
from typing import assert_type

import tesmar_math as tm
from tesmar_math import Tesmarmath


def mean(values: Sequence[float]) -> float:
    return tm.sum_of(values) / len(values) if values else 0.0


def main() -> None:
    assert_type(tm.cos(1.0), float)
    assert_type(tm.cos(number=1.0, terms=30), float)
    assert_type(tm.floor(2.5), int)
    assert_type(tm.sign(-3), int)
    assert_type(tm.int_div_of(range(100, 0, -7)), int)
    assert_type(tm.gcd_with_int((12, 18, True)), int)
    assert_type(tm.is_even(4), bool)
    assert_type(tm.number_pi, float)
    assert_type(tm.lcm_with(b"\x04\x06"), float)
    assert_type(tm.power(Fraction(1, 2), 3), float)  # anything with __float__

    t = Tesmarmath(2)
    assert_type(t.square(), Tesmarmath)
    assert_type(t.square().cube().power(exponent=0.5), Tesmarmath)  # chains
    assert_type(t.cos(), float)
    assert_type(t.gcd_with_float([12.0, 18.0]), int)
    assert_type(t.get_number(), float)
    assert_type(t.is_odd(), bool)

    print(mean([1.0, 2.0, 4.5]), t, tm.tetration(2, 3))


def refused() -> None:
    """Never called: each line is a type error that the runtime refuses too."""
    tm.floor("x")  # type: ignore[arg-type]
    tm.factorial(5.0)  # type: ignore[arg-type]
    tm.int_div_of([7.0, 2])  # type: ignore[list-item]
    tm.sum_of({1.0, 2.0})  # type: ignore[arg-type]
    tm.power_of_2(3.0)  # type: ignore[attr-defined]
    Tesmarmath(1).is_integer()  # type: ignore[attr-defined]
    Tesmarmath(1).tan(1.5)  # type: ignore[arg-type]

    class Sub(Tesmarmath):  # type: ignore[misc]
        pass


if __name__ == "__main__":
    main()
