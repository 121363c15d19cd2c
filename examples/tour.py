"""A short tour of tesmar_math: every operation family on both surfaces.

Each line below is run as if typed at the interpreter's prompt, and printed
with the value it gives (or the exception it raises), so the output is the
module's real behaviour. `tm` is the module and `T` the class Tesmarmath.
"""

import math

import tesmar_math as tm


def session(title: str, *lines: str) -> None:
    print(f"\n# {title}")
    scope = {"tm": tm, "T": tm.Tesmarmath, "math": math}
    for line in lines:
        print(">>>", line)
        try:
            try:
                code = compile(line, "<tour>", "eval")
            except SyntaxError:
                exec(line, scope)
                continue
            print(repr(eval(code, scope)))
        except Exception as error:
            print(f"{type(error).__name__}: {error}")


print(
    "tesmar_math:", len(tm.__all__), "names;", "constants", tm.number_pi, tm.number_e, tm.infinity
)

session(
    "The class wraps one double: a method overwrites it and returns a new instance",
    "t = T(10.0)",
    "u = t.div_of([4, 0.5])",
    "u, t, u is t",
    "t.get_number(), str(T(-0.0)), repr(T(float('nan'))), str(T(1e21))",
)
session(
    "List folds: functions start from the first item, methods fold into the stored number",
    "tm.sum_of([1e16, 1.0, 1.0]), tm.sum_of([1.0, 1.0, 1e16]), tm.sum_of([])",
    "T(1e16).sum_of([1.0, 1.0])      # the items first, the stored number last",
    "tm.dif_of([10, 3, 2]), T(10).dif_of([3, 2])   # method: 10 - (3 - 2)",
    "tm.div_of([100, 5, 2]), T(100).div_of([5, 2])",
    "tm.div_of([5, -0.0])",
    "T(10).div_of([2, 0])",
    "tm.int_div_of([-7, 2]), T(7.9).int_div_of([2]), T(2.5).int_div_of([])",
    "tm.int_div_of([-2**63, -1])     # exact, no overflow",
    "tm.mult_of([2, 3, 0.5]), T(3).mult_of(range(1, 5))",
    "tm.sum_of(b'ab'), tm.sum_of((1, True, 2.5))   # any sequence of numbers",
    "tm.sum_of('12')",
    "tm.sum_of({1.0, 2.0})",
)
session(
    "Powers and roots",
    "tm.square(3), tm.cube(-2), tm.power(2, 10), tm.power(-8, 1/3), tm.square(1e200)",
    "T(3).square(), T(2).power(exponent=3), T(3).power_of_2()   # power_of_2: method only",
    "tm.square_root(2), tm.square_root(-0.0), tm.cube_root(-27), T(64).cube_root()",
    "tm.square_root(-1e-300)",
    "t = T(-4)",
    "t.square_root()",
    "t                              # unchanged after a failure",
)
session(
    "Factorial (64-bit function, 128-bit method) and tetration",
    "tm.factorial(20), T(33).factorial(), T(5.9).factorial()",
    "tm.factorial(21)",
    "T(34).factorial()",
    "tm.factorial(5.0)",
    "tm.tetration(2, 4), T(3).tetration(3), tm.tetration(-2, 3)",
    "tm.tetration(2, 5)",
    "tm.tetration(1.2, 2**62), tm.tetration(0.5, 2**63 - 1)   # repeats are detected",
)
session(
    "gcd of ints and of rounded floats, lcm in floating point",
    "tm.gcd_with_int([48, -180, 300]), T(1).gcd_with_int([12, 18, 8])",
    "tm.gcd_with_int([-2**63, 6]), tm.gcd_with_int([-2**63])   # never negative",
    "tm.gcd_with_float([2.5, 7.4]), T(100.0).gcd_with_float([12.0, 18.0])   # an int",
    "tm.gcd_with_int([])",
    "tm.lcm_with([4, 6, 10]), tm.lcm_with([2.5, 3.0]), T(5).lcm_with([])",
)
session(
    "Rounding, sign and predicates: ints from functions, floats from methods",
    "tm.floor(-2.5), tm.ceil(-2.5), T(2.7).floor(), T(-0.5).ceil()",
    "tm.floor(float('nan')), tm.floor(1e300), tm.ceil(float('-inf')), T(math.inf).floor()",
    "tm.sign(-7.5), T(float('nan')).sign(), tm.is_positive(0.0), tm.is_negative(-math.inf)",
    "tm.is_integer(3.0), tm.is_integer(math.inf), tm.is_even(-4), T(2.5).is_odd()",
    "tm.is_even(4.0)",
)
session(
    "Cosine, sine and tangent by power series (terms=20 unless given)",
    "tm.cos(1.0), math.cos(1.0), tm.sin(math.pi), tm.tan(1.0)",
    "tm.cos(1.0, 2), tm.cos(1.0, 0), T(1.0).cos(0)   # terms=0: empty sum vs first term",
    "t = T(2.0)",
    "t.cos(), t                     # methods store and return a float",
    "tm.tan(math.pi / 2)",
    "t = T(math.pi / 2)",
    "t.tan()",
    "t                              # unchanged after a failure",
    "tm.cos(1.0, -1)",
)

print("""
# Pictures of the same behaviour, in the source tree (drawn by `make figures`):
#   docs/figures/accuracy.svg  error of cos, sin and tan against math, by number of terms
#   docs/figures/speed.svg     time against the standard library's equivalents
# docs/accuracy.md and docs/performance.md show them beside their tables.""")
