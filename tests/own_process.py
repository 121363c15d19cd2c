"""Scenarios that need a process of their own (a signal timer, a limit on the address space): a
test calls run(scenario, argument...), which runs this file as a script with a hard time limit
and the test's environment (the sanitizer's too), and gets the lines the scenario prints."""

import itertools
import math
import os
import resource
import signal
import subprocess
import sys

import numpy as np
import tesmar_math as tm


# The lines the scenario printed, or, when it failed, its stderr (which matches no lines).
def run(scenario, *arguments):
    command = [sys.executable, __file__, scenario, *arguments]
    done = subprocess.run(command, capture_output=True, text=True, timeout=120)
    return done.stdout.splitlines() if done.returncode == 0 else done.stderr


# Lets the process map `more` bytes beyond what it maps now (the sanitizer's shadow included): a
# list that never ends is MemoryError, not the machine's last page.
def limit_address_space(more):
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[0])
    room = pages * os.sysconf("SC_PAGE_SIZE") + more
    resource.setrlimit(resource.RLIMIT_AS, (room, room))


def outcome(call):
    try:
        return call()
    except BaseException as error:  # noqa: BLE001
        return f"{type(error).__name__}: {error}"


RECEIVER = tm.Tesmarmath(2.5)
MET = []  # what the re-entering handler met


def raise_keyboard_interrupt(signum, frame):
    raise KeyboardInterrupt


def raise_lookup_error(signum, frame):
    raise LookupError("now")


def reenter(signum, frame):
    MET.extend([outcome(RECEIVER.get_number), outcome(RECEIVER.cube)])
    RECEIVER.square()


HANDLERS = {
    "ctrl-c": raise_keyboard_interrupt,
    "exception": raise_lookup_error,
    "re-entry": reenter,
}
ENDLESS = {  # a list that would take years to fold: (the fold, the list)
    "int8 stride 0": ("sum_of", lambda: np.broadcast_to(np.int8(1), (2**62,))),  # one item
    "range": ("sum_of", lambda: range(2**62)),  # read by iteration
    "uint64 stride 0": ("gcd_with_int", lambda: np.broadcast_to(np.uint64(5), (2**59,))),
    # Not endless, but long: ints of three digits, each converted as the fold reaches it.
    "big ints": ("sum_of", lambda: [2**61] * 2**25),
}


# The handler interrupts the fold of an endless list on the module or on RECEIVER; then what it
# met, RECEIVER's number and two calls that show the module and RECEIVER work as before.
def long_call(handler, endless, surface):
    limit_address_space(2**31)
    signal.signal(signal.SIGALRM, HANDLERS[handler])
    fold, make_list = ENDLESS[endless]
    owner = tm if surface == "function" else RECEIVER
    signal.setitimer(signal.ITIMER_REAL, 0.2)
    print(outcome(lambda: getattr(owner, fold)(make_list())))
    print(MET, RECEIVER.get_number().hex(), tm.sum_of([1.0, 2.0]), RECEIVER.square().get_number())


# A handler clears the list being summed, every millisecond: each sum must be that of a prefix,
# 0 + 1 + ... + (k - 1). Prints whether any sum was cut short.
def clearing(source):
    limit_address_space(2**31)
    n = 2**20
    base = range(n) if source == "ints" else [float(i) for i in range(n)]
    items, cut = [], False

    def clear(signum, frame):
        items.clear()

    signal.signal(signal.SIGALRM, clear)
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    for _ in range(20):
        items = [*base]
        total = tm.sum_of(items)
        k = (1 + math.isqrt(1 + 8 * int(total))) // 2
        assert total == k * (k - 1) // 2 and k <= n, total
        cut = cut or 1 < k < n
    signal.setitimer(signal.ITIMER_REAL, 0)
    print(cut)


class Endless(list):
    """Empty by its length, endless by its iterator."""

    def __iter__(self):
        return itertools.repeat(1.0)


# A list longer than memory can hold is MemoryError, and the module carries on.
def too_long_to_hold():
    limit_address_space(2**30)
    try:
        tm.sum_of(Endless())
    except MemoryError:
        print("MemoryError", tm.sum_of([1.0, 2.0]))


SCENARIOS = {"long call": long_call, "clearing": clearing, "too long to hold": too_long_to_hold}

if __name__ == "__main__":
    SCENARIOS[sys.argv[1]](*sys.argv[2:])
