"""Fast and general paths agree. Every callable gives the same outcome for the same values
whether they come as exact floats and ints, as subclasses, through __float__ or __index__, in
any accepted sequence, by position or by keyword; and a function and its method agree where
they are meant to."""

import pytest
import tesmar_math as tm
from hypothesis import given, settings
from hypothesis import strategies as st
from registry import BY_NAME, FLOATS, INTEGERS, NUMBERS, Tesmarmath, key, outcome

FEW = settings(max_examples=max(20, settings().max_examples // 10))


def values(entry):
    return st.tuples(*(kind.values for _, kind, _ in entry.params))


def run(entry, stored, *args, **kwargs):
    """The outcome of one call, and the number its receiver holds afterwards."""
    return outcome(entry.on(t := Tesmarmath(stored)), *args, **kwargs), key(t.get_number())


@pytest.mark.parametrize("name", BY_NAME)
@FEW
@given(data=st.data(), stored=FLOATS)
def test_every_route_to_a_value_gives_the_same_outcome(name, data, stored):
    entry = BY_NAME[name]
    exact = data.draw(values(entry))
    want = run(entry, stored, *exact)
    names = [n for n, _, _ in entry.params]
    assert run(entry, stored, **dict(zip(names, exact, strict=True))) == want
    for i, (_, kind, _) in enumerate(entry.params):
        for form in kind.forms(exact[i]):
            later = (form, *exact[i + 1 :])
            assert run(entry, stored, *exact[:i], *later) == want, form
            assert (
                run(entry, stored, *exact[:i], **dict(zip(names[i:], later, strict=True))) == want
            ), form


def agree(function, method):
    """Same exception type, or the same value (a result instance by the number it holds)."""
    if issubclass(function[0], Exception) or issubclass(method[0], Exception):
        return function[0] is method[0]
    return function[1] == method[1]


# Where the method is the function applied to the stored number (the others differ by design).
ONE_NUMBER = "square cube power square_root cube_root tetration is_positive is_negative cos sin tan"


@pytest.mark.parametrize("name", ONE_NUMBER.split())
@FEW
@given(data=st.data(), x=FLOATS)
def test_function_and_method_agree_on_one_number(name, data, x):
    entry = BY_NAME[f"Tesmarmath.{name}()"]
    rest = data.draw(values(entry))
    if name in ("cos", "sin", "tan") and rest[0] == 0:
        rest = ()  # no terms at all is where the two differ
    function = outcome(getattr(tm, name), x, *rest)
    method = outcome(getattr(Tesmarmath(x), name), *rest)
    assert agree(function, method)
    if function[0] is ValueError:
        assert function == method  # the same message on both


@FEW
@given(args=INTEGERS.values.filter(bool), reals=NUMBERS.values, x=FLOATS)
def test_list_functions_and_methods_agree_and_ignore_the_stored_number(args, reals, x):
    t = Tesmarmath(x)
    assert t.gcd_with_int(args).get_number() == float(tm.gcd_with_int(args)) == t.get_number()
    assert outcome(t.gcd_with_float, reals) == outcome(tm.gcd_with_float, reals)
    assert outcome(t.lcm_with, reals)[1] == outcome(tm.lcm_with, reals)[1] == key(t.get_number())
