"""Long list work stops for a signal whose handler raises, leaving the receiver and the module as
they were; a handler meets the held instance's borrow flag; one clearing the list corrupts nothing.
Each case is a subprocess with a hard time limit that inherits the environment (sanitizer too)."""

import subprocess
import sys

import pytest

PRELUDE = """if True:
    import math, os, resource, signal, numpy as np, tesmar_math as tm
    # 2 GiB more than the interpreter holds now (the sanitizer's shadow included): a list read
    # by iteration that never stops ends in MemoryError, not in the machine's last page.
    room = int(open("/proc/self/statm").read().split()[0]) * os.sysconf("SC_PAGE_SIZE") + 2**31
    resource.setrlimit(resource.RLIMIT_AS, (room, room))
    def outcome(call):
        try:
            return call()
        except BaseException as error:
            return type(error).__name__ + ": " + str(error)
    t, met, n = tm.Tesmarmath(2.5), [], 2**20
    def handler(*_):
        {}
    signal.signal(signal.SIGALRM, handler)
"""
ENDLESS = [  # stride 0: one item read forever; read by iteration; unsigned, each range-checked
    "sum_of(np.broadcast_to(np.int8(1), (2**62,)))",
    "sum_of(range(2**62))",
    "gcd_with_int(np.broadcast_to(np.uint64(5), (2**59,)))",
    "sum_of([2**61] * 2**25)",  # not endless, but long: ints of three digits, converted by index
]
REENTER = "met.extend(outcome(f) for f in (t.get_number, t.cube)); t.square()"
BORROWED = ["RuntimeError: Already mutably borrowed", "RuntimeError: Already borrowed"]
HANDLERS = {  # its body, the form it interrupts, what the call ends with, what it met
    "ctrl-c": ("raise KeyboardInterrupt", "tm", "KeyboardInterrupt: ", []),
    "exception": ("raise LookupError('now')", "t", "LookupError: now", []),
    "re-entry": (REENTER, "t", BORROWED[1], BORROWED),
}


def run(handler, body):
    args = [sys.executable, "-c", PRELUDE.format(handler) + body]
    done = subprocess.run(args, capture_output=True, text=True, timeout=60)
    return done.stdout.splitlines() if done.returncode == 0 else done.stderr  # stderr: no match


@pytest.mark.parametrize("call", ENDLESS)
@pytest.mark.parametrize("handler, form, ends_with, met", HANDLERS.values(), ids=list(HANDLERS))
def test_a_raising_handler_ends_a_long_call(call, handler, form, ends_with, met):
    body = f"""
    signal.setitimer(signal.ITIMER_REAL, 0.2)
    print(outcome(lambda: {form}.{call}))
    print(met, t.get_number().hex(), tm.sum_of([1.0, 2.0]), t.square().get_number())"""
    assert run(handler, body) == [ends_with, f"{met} 0x1.4000000000000p+1 3.0 6.25"]


# Ints are converted by index, polling on the way (fresh ones, freed when the list is cleared);
# exact floats are folded in place, reading the list's own items: that fold never polls.
CLEARED = [("range(n)", True), ("[*map(float, range(n))]", False)]


@pytest.mark.parametrize(("source", "polls"), CLEARED)
def test_a_handler_clearing_the_list_leaves_the_fold_of_a_prefix(source, polls):
    body = f"""
    items, base, cut = [], {source}, False
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    for _ in range(20):
        items = [*base]
        total = tm.sum_of(items)
        k = (1 + math.isqrt(1 + 8 * int(total))) // 2  # total == 0 + 1 + ... + (k - 1)
        assert total == k * (k - 1) // 2 and k <= n, total
        cut = cut or 1 < k < n
    signal.setitimer(signal.ITIMER_REAL, 0)
    print(cut)"""
    assert run("items.clear()", body) == [str(polls)]
