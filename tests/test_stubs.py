"""The shipped stubs agree with the runtime: names, parameters and defaults,
the argument kinds their annotations promise, the result types, and what
mypy accepts and refuses with them."""

import ast
import inspect
import pathlib
import re
from collections.abc import Callable
from typing import Any

import pytest

import tesmar_math as tm
from tesmar_math import Tesmarmath

STUB = pathlib.Path(__file__).resolve().parents[1] / "stubs/tesmar_math-stubs/__init__.pyi"
TREE = ast.parse(STUB.read_text())
CLASS = next(n for n in TREE.body if isinstance(n, ast.ClassDef) and n.name == "Tesmarmath")


def _defs(body: list[ast.stmt]) -> dict[str, ast.FunctionDef]:
    return {n.name: n for n in body if isinstance(n, ast.FunctionDef)}


STUB_FUNCS, STUB_METHODS = _defs(TREE.body), _defs(CLASS.body)
FUNCS = {n: getattr(tm, n) for n in tm.__all__ if inspect.isbuiltin(getattr(tm, n))}
METHODS = {n: m for n, m in vars(Tesmarmath).items() if callable(m) and not n.startswith("__")}
# name -> (stub definition, runtime callable, is it an unbound method?)
CALLABLES = {f"tesmar_math.{n}": (STUB_FUNCS[n], f, False)
             for n, f in FUNCS.items() if n in STUB_FUNCS}
CALLABLES |= {f"Tesmarmath.{n}": (STUB_METHODS[n], m, True)
              for n, m in METHODS.items() if n in STUB_METHODS}
CALLABLES["Tesmarmath"] = (STUB_METHODS["__new__"], Tesmarmath, False)


def _stub_params(name: str) -> list[tuple[ast.arg, object]]:
    """The stub's parameters with their defaults, without self or cls."""
    args = CALLABLES[name][0].args
    assert not (args.posonlyargs or args.vararg or args.kwonlyargs or args.kwarg)
    defaults: list[object] = [inspect.Parameter.empty] * (len(args.args) - len(args.defaults))
    defaults += [ast.literal_eval(d) for d in args.defaults]
    pairs = list(zip(args.args, defaults))
    return pairs[1:] if name.startswith("Tesmarmath") else pairs


def test_the_stub_names_exactly_what_the_module_holds() -> None:
    stub_all = next(ast.literal_eval(n.value) for n in TREE.body
                    if isinstance(n, ast.Assign) and ast.unparse(n.targets[0]) == "__all__")
    assert stub_all == tm.__all__
    assert set(STUB_FUNCS) == set(FUNCS) and len(FUNCS) == 26
    assert set(STUB_METHODS) - {"__new__"} == set(METHODS) and len(METHODS) == 27
    assert [ast.unparse(d) for d in CLASS.decorator_list] == ["final"]
    constants = {ast.unparse(n.target): ast.unparse(n.annotation)
                 for n in TREE.body if isinstance(n, ast.AnnAssign)}
    assert constants == dict.fromkeys(["number_pi", "number_e", "infinity"], "Final[float]")
    assert all(type(getattr(tm, c)) is float for c in constants)


@pytest.mark.parametrize("name", CALLABLES)
def test_signature_matches_the_stub(name: str) -> None:
    stub, runtime, unbound = CALLABLES[name]
    assert ast.get_docstring(stub), f"{name} has no docstring in the stub"
    params = list(inspect.signature(runtime).parameters.values())[1 if unbound else 0:]
    assert [(p.name, p.kind, p.default) for p in params] == [
        (a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, d) for a, d in _stub_params(name)]


class OnlyFloat:
    def __init__(self, value: float) -> None:
        self.value = value

    def __float__(self) -> float:
        return self.value


class OnlyIndex:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


# annotation -> (a plain good value, more values it admits, values the runtime refuses)
KINDS: dict[str, tuple[object, list[object], list[object]]] = {
    "SupportsFloat | SupportsIndex": (
        2.0, [OnlyFloat(2.0), OnlyIndex(2), 2, True], ["2", None, [2.0]]),
    "SupportsIndex": (3, [OnlyIndex(3), True], [3.0, "3", None]),
    "Sequence[SupportsFloat | SupportsIndex]": (
        [4.0, 2.0],
        [(OnlyFloat(4.0), OnlyIndex(2)), range(4, 0, -2), b"\x04\x02"],
        ["42", {4.0, 2.0}, 4.0, [4.0, "2"]]),
    "Sequence[SupportsIndex]": (
        [8, 2],
        [(OnlyIndex(8), True), range(8, 0, -6), b"\x08\x02"],
        ["82", {8, 2}, [8.0, 2], [8, 2**64]]),
}
RESULTS = {"float": float, "int": int, "bool": bool, "Tesmarmath": Tesmarmath, "Self": Tesmarmath}


def _caller(name: str) -> Callable[..., Any]:
    _, runtime, unbound = CALLABLES[name]
    return (lambda **kw: runtime(Tesmarmath(2.0), **kw)) if unbound else runtime


@pytest.mark.parametrize("name", CALLABLES)
def test_annotations_promise_what_the_runtime_does(name: str) -> None:
    call = _caller(name)
    kinds = {a.arg: ast.unparse(a.annotation or ast.Constant(None)) for a, _ in _stub_params(name)}
    good = {p: KINDS[k][0] for p, k in kinds.items()}
    result = RESULTS[ast.unparse(CALLABLES[name][0].returns or ast.Constant(None))]
    assert type(call(**good)) is result
    for param, kind in kinds.items():
        _, admitted, refused = KINDS[kind]
        for value in admitted:
            assert type(call(**good | {param: value})) is result, (param, value)
        for value in refused:
            with pytest.raises((TypeError, OverflowError)):
                call(**good | {param: value})


SNIPPET = """\
from typing import assert_type
import tesmar_math as tm
from tesmar_math import Tesmarmath

class F:
    def __float__(self) -> float: return 1.5

assert_type(tm.cos(1.0), float)
assert_type(Tesmarmath(2).square(), Tesmarmath)
assert_type(Tesmarmath(F()).cos(terms=3), float)
assert_type(tm.floor(F()), int)
assert_type(tm.gcd_with_int((True, 2, range(3)[1])), int)
assert_type(tm.sum_of(b"ab") + tm.mult_of(range(3)) + tm.number_e, float)
assert_type(Tesmarmath(1).gcd_with_float([2.0]), int)
tm.floor("x")  # E: arg-type
tm.factorial(5.0)  # E: arg-type
tm.int_div_of([7.0, 2])  # E: list-item
tm.sum_of("12")  # E: arg-type
tm.sum_of({1.0})  # E: arg-type
tm.cos(1.0, terms=2.0)  # E: arg-type
tm.cos(1.0, nterms=3)  # E: call-arg
tm.power_of_2(1.0)  # E: attr-defined
Tesmarmath(1).is_integer()  # E: attr-defined
x: str = tm.floor(1.0)  # E: assignment
tm.number_pi = 3.0  # E: misc
class Sub(Tesmarmath): ...  # E: misc
"""


@pytest.mark.no_sanitizer
def test_mypy_accepts_and_refuses_through_the_stubs(
        tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> None:
    api = pytest.importorskip("mypy.api")
    # the tree's stub, not one installed with the module
    (tmp_path / "tesmar_math.pyi").write_text(STUB.read_text())
    (tmp_path / "snippet.py").write_text(SNIPPET)
    monkeypatch.setenv("MYPYPATH", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    out, err, _ = api.run(["--strict", "--no-incremental", "--cache-dir", "/dev/null", "snippet.py"])
    found = set(re.findall(r"^snippet\.py:(\d+): error: .*\[([a-z-]+)\]$", out, re.M))
    expected = {(str(i), m[1]) for i, line in enumerate(SNIPPET.splitlines(), 1)
                if (m := re.search(r"# E: ([a-z-]+)$", line))}
    assert found == expected, out + err
