"""cos, sin and tan as truncated series after argument reduction, on both
surfaces, checked bit for bit against a Python model of the same steps."""
import faulthandler
import math
import struct

import pytest
from hypothesis import example, given, strategies as st

import tesmar_math as tm

T = tm.Tesmarmath
NAN, INF = math.nan, math.inf
MAX = 2**64 - 1
MODULE_MSG = "Tangent is undefined: cosine is zero"
METHOD_MSG = "Tangent undefined (cos close to 0)"


def bits(x: float) -> bytes:
    return struct.pack("<d", x)


def same(a: float, b: float) -> bool:
    """Bit-identical, signed zeros apart; any NaN matches any NaN."""
    return type(a) is float and (math.isnan(a) and math.isnan(b) or bits(a) == bits(b))


# The model: Python floats round each operation exactly like the C doubles.
def reduce(x: float) -> float:
    if not math.isfinite(x):
        return NAN  # inf - inf; math.floor refuses both
    return x - float(math.floor((3.141592653589793 + x) / 6.283185307179586)) * 6.283185307179586


def series(r: float, term: float, k: int, budget: int) -> float:
    m, total = (-r) * r, term
    for _ in range(budget):  # range takes 2**64 - 1; the series ends long before
        term = term * (m / float((k - 1) * k % 2**64))
        total = total + term
        k += 2
        if math.isnan(total) or abs(term) < 1e-16:
            break
    return total


def model(name: str, x: float, n: int | None, method: bool) -> float:
    """The result, or the ZeroDivisionError message as a str."""
    n = 20 if n is None else n
    if n == 0 and not method:
        s = c = 0.0
    else:
        r, budget = reduce(x), max(n, 1) - 1
        s, c = series(r, r, 3, budget), series(r, 1.0, 2, budget)
    if name == "tan":
        return (METHOD_MSG if method else MODULE_MSG) if abs(c) < 1e-12 else s / c
    return c if name == "cos" else s


def call(name: str, x: float, n: int | None, method: bool) -> float | str:
    """Calls one surface; a method's receiver must end holding the result,
    or, when the tangent fails, exactly what it held before."""
    args = () if n is None else (n,)
    if not method:
        try:
            return getattr(tm, name)(x, *args)
        except ZeroDivisionError as e:
            return str(e)
    t = T(x)
    try:
        got = getattr(t, name)(*args)
    except ZeroDivisionError as e:
        assert same(t.get_number(), x)
        return str(e)
    assert type(got) is float and same(t.get_number(), got)
    return got


def matches(got: float | str, want: float | str) -> bool:
    return got == want if isinstance(want, str) else same(got, want)


def check(name: str, x: float, n: int | None, method: bool, want: float | str) -> None:
    got = call(name, x, n, method)
    assert matches(got, want), (got, want)


HP = math.pi / 2
X16 = 2.8571428571428572e16
EXAMPLES = [  # name, x, terms, module result, method result
    ("cos", 0.0, None, 1.0, 1.0),
    ("cos", 1.0, None, 0.5403023058681397, 0.5403023058681397),
    ("cos", 1.0, 0, 0.0, 1.0), ("sin", 1.0, 0, 0.0, 1.0),
    ("cos", 1.0, 1, 1.0, 1.0), ("sin", 1.0, 1, 1.0, 1.0),
    ("cos", 1.0, 2, 0.5, 0.5), ("cos", 1.0, 3, 0.5416666666666666, 0.5416666666666666),
    ("sin", 1.0, 2, 0.8333333333333334, 0.8333333333333334),
    ("sin", 1.0, 3, 0.8416666666666667, 0.8416666666666667),
    ("sin", 10.0, 1, -2.5663706143591725, -2.5663706143591725),
    ("cos", math.pi, None, -1.0, -1.0),
    ("sin", math.pi, None, -2.48216939359126e-16, -2.48216939359126e-16),
    ("tan", 1.0, None, 1.5574077246549025, 1.5574077246549025),
    ("tan", HP, None, MODULE_MSG, METHOD_MSG),
    ("tan", HP + 2e-12, None, -500033272650.1059, -500033272650.1059),
    ("tan", HP + 1e-13, None, MODULE_MSG, METHOD_MSG),
    ("tan", HP - 2e-12, None, 499998951496.68304, 499998951496.68304),
    ("tan", HP + 5e-13, None, MODULE_MSG, METHOD_MSG), ("tan", HP - 5e-13, None, MODULE_MSG, METHOD_MSG),
    ("tan", 10.0, 0, MODULE_MSG, -2.5663706143591725),
    ("tan", 10.0, 1, -2.5663706143591725, -2.5663706143591725),
    ("tan", NAN, 0, MODULE_MSG, NAN), ("tan", INF, 0, MODULE_MSG, NAN),
    ("tan", math.sqrt(2), 1, math.sqrt(2), math.sqrt(2)),
    ("tan", math.sqrt(2), 2, MODULE_MSG, METHOD_MSG),  # 1 - r*r/2 is -2.2e-16
    ("sin", 3.02, None, 0.12129325503062954, 0.12129325503062954),  # 29th-power term still counts
    ("sin", -3.02, None, -0.12129325503062954, -0.12129325503062954),
    ("cos", 2.0, None, -0.41614683654714246, -0.41614683654714246),
    ("cos", 1.5e16, 20, 0.9601702866503681, 0.9601702866503681),  # r = -6.0
    ("cos", 1.5e16, 30, 0.9601702866503681, 0.9601702866503681),
    ("cos", 1e17, None, 1.0, 1.0), ("sin", 1e17, None, 0.0, 0.0),  # r = +0.0
    ("cos", X16, 20, -0.14550003381020185, -0.14550003381020185),  # r = -8.0, cut short
    ("cos", X16, None, -0.14550003381020185, -0.14550003381020185),
    ("cos", X16, 30, -0.14550003380863127, -0.14550003380863127),
    ("cos", X16, MAX, -0.14550003380863127, -0.14550003380863127),
    ("sin", -0.0, 1, -0.0, -0.0), ("sin", -0.0, None, 0.0, 0.0), ("tan", -0.0, None, 0.0, 0.0),
    ("cos", INF, None, NAN, NAN), ("cos", -INF, 1, 1.0, 1.0), ("sin", INF, 1, NAN, NAN),
    ("cos", NAN, None, NAN, NAN), ("tan", NAN, None, NAN, NAN), ("tan", INF, None, NAN, NAN),
    ("cos", NAN, 1, 1.0, 1.0), ("sin", NAN, 1, NAN, NAN),
    ("cos", 1.0, 2**32 + 1, 0.5403023058681397, 0.5403023058681397),
    ("cos", 1.0, MAX, 0.5403023058681397, 0.5403023058681397),
]


@pytest.mark.parametrize("name, x, n, module, method", EXAMPLES)
def test_worked_examples(name, x, n, module, method):
    for on_method, want in ((False, module), (True, method)):
        check(name, x, n, on_method, want)
        assert matches(model(name, x, n, on_method), want)  # the model itself is sound


# NaN sums, overflowing terms (r = 4096, r = -8192) and a long but finite
# series (r = 2.57 at 700.0) must all return at once with every budget.
@pytest.mark.parametrize("x", [NAN, INF, -INF, 3e19, 7e19, 700.0, 1e300, 1.7976931348623157e308])
@pytest.mark.parametrize("name", ["cos", "sin", "tan"])
def test_any_budget_ends_quickly(name, x):
    faulthandler.dump_traceback_later(10, exit=True)
    try:
        for method in (False, True):
            check(name, x, MAX, method, model(name, x, MAX, method))
    finally:
        faulthandler.cancel_dump_traceback_later()


def test_failed_method_tangent_keeps_receiver():
    t = T(HP)
    with pytest.raises(ZeroDivisionError, match=r"^Tangent undefined \(cos close to 0\)$"):
        t.tan()
    assert t.get_number() == math.pi / 2


class Index:
    def __init__(self, value, hook=None):
        self.value, self.hook = value, hook

    def __index__(self):
        if self.hook:
            self.hook()
        return self.value


@pytest.mark.parametrize("terms, kind, msg", [
    (None, TypeError, "argument 'terms': 'NoneType' object cannot be interpreted as an integer"),
    (2.0, TypeError, "argument 'terms': 'float' object cannot be interpreted as an integer"),
    ("3", TypeError, "argument 'terms': 'str' object cannot be interpreted as an integer"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, "int too big to convert"),
    (Index(1, lambda: 1 / 0), ZeroDivisionError, "division by zero"),
])
@pytest.mark.parametrize("name", ["cos", "sin", "tan"])
def test_terms_conversion_failures(name, terms, kind, msg, no_leak):
    with pytest.raises(kind) as e:
        getattr(tm, name)(1.0, terms)
    assert str(e.value) == msg
    t = T(1.5)
    with pytest.raises(kind) as e:
        getattr(t, name)(terms=terms)
    assert str(e.value) == msg and bits(t.get_number()) == bits(1.5)
    no_leak(lambda: getattr(tm, name)(1.0, terms))
    no_leak(lambda: getattr(t, name)(terms))


def test_terms_accepts_index_and_bool_and_holds_receiver():
    assert tm.cos(1.0, True) == 1.0 and tm.cos(1.0, Index(3)) == 0.5416666666666666
    t, seen = T(1.0), []

    def reenter():
        with pytest.raises(RuntimeError) as e:
            t.get_number()
        seen.append(str(e.value))

    assert t.sin(Index(2, reenter)) == 0.8333333333333334 == t.get_number()
    assert seen == ["Already mutably borrowed"]
    # a bad number is reported before terms is looked at
    with pytest.raises(TypeError, match="^argument 'number': "):
        tm.cos("a", Index(1, lambda: 1 / 0))


@pytest.mark.parametrize("fn, args, kwargs, msg", [
    (tm.cos, (1.0, 2, 3), {}, "cos() takes from 1 to 2 positional arguments but 3 were given"),
    (T(1.0).cos, (1, 2), {}, "Tesmarmath.cos() takes from 0 to 1 positional arguments but 2 were given"),
    (tm.sin, (), {}, "sin() missing 1 required positional argument: 'number'"),
    (tm.tan, (), {"terms": 3}, "tan() missing 1 required positional argument: 'number'"),
    (tm.tan, (1.0,), {"x": 3}, "tan() got an unexpected keyword argument 'x'"),
    (T(1.0).tan, (1,), {"terms": 2}, "Tesmarmath.tan() got multiple values for argument 'terms'"),
    (T(1.0).sin, (), {"number": 2}, "Tesmarmath.sin() got an unexpected keyword argument 'number'"),
])
def test_binding(fn, args, kwargs, msg, no_leak):
    with pytest.raises(TypeError) as e:
        fn(*args, **kwargs)
    assert str(e.value) == msg
    no_leak(lambda: fn(*args, **kwargs))


def test_keywords_signatures_and_order():
    assert tm.tan(number=1.0, terms=20) == 1.5574077246549025 == T(1.0).tan(terms=20)
    for name in ("cos", "sin", "tan"):
        assert getattr(tm, name).__text_signature__ == "(number, terms=20)"
        assert getattr(T, name).__text_signature__ == "($self, terms=20)"
    assert tm.__all__[23:26] == ["cos", "sin", "tan"]


@pytest.mark.parametrize("name", ["cos", "sin", "tan"])
def test_no_leak(name, no_leak):
    t = T(0.5)
    no_leak(lambda: getattr(tm, name)(0.5))
    no_leak(lambda: getattr(t, name)(3))
    no_leak(lambda: tm.tan(HP))
    no_leak(lambda: T(HP).tan())


@given(name=st.sampled_from(["cos", "sin", "tan"]),
       x=st.floats() | st.floats(-1e18, 1e18) | st.floats(-10.0, 10.0)
       | st.builds(lambda k, d: k * HP + d, st.integers(-4, 4), st.floats(-1e-11, 1e-11)),
       n=st.none() | st.integers(0, 40) | st.sampled_from([2**32, 2**32 + 1, MAX]),
       method=st.booleans())
@example(name="tan", x=HP + 2e-12, n=None, method=True)
@example(name="cos", x=X16, n=23, method=False)
def test_matches_model(name, x, n, method):
    check(name, x, n, method, model(name, x, n, method))
