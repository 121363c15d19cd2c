"""A short tour of tesmar_math: every operation family on both surfaces."""

import math

import tesmar_math as tm
from tesmar_math import Tesmarmath


def show(label: str, value: object) -> None:
    print(f"  {label:<44} {value!r}")


print("tesmar_math", len(tm.__all__), "names:", ", ".join(tm.__all__[:6]), "...")

print("\nThe class wraps one double; methods overwrite it and return a new instance")
t = Tesmarmath(10.0)
show("t = Tesmarmath(10.0); t.div_of([4, 0.5])", t.div_of([4, 0.5]))
show("t afterwards", t)
show("str(Tesmarmath(2**50 + 0.25))", str(Tesmarmath(2**50 + 0.25)))
show("repr(Tesmarmath(float('nan')))", repr(Tesmarmath(float("nan"))))
