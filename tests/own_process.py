"""Scenarios that need a process of their own (a signal timer, a limit on the address space): a
test calls run(scenario, argument...), which runs this file as a script with a hard time limit
and the test's environment (the sanitizer's too), and gets the lines the scenario prints."""

import collections
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


# Lets the process map `more` bytes beyond what it maps now (the sanitizer's shadow included).
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


# A sequence longer than memory could hold as doubles is folded as it is read.
def longer_than_memory():
    limit_address_space(2**28)
    print(tm.sum_of(range(40_000_000)) == 799_999_980_000_000.0)


class Reentering:
    """Converts by calling the module again, on a new list (or argument) holding another of its
    kind: as deep as the recursion limit lets it."""

    def __init__(self, route):
        self.route = route

    def __float__(self):
        return DEEP[self.route](Reentering(self.route))

    def __index__(self):
        return DEEP[self.route](Reentering(self.route))


DEEP = {  # route -> a call that converts `item`
    "list": lambda item: tm.dif_of([item, 1.0]),
    "tuple": lambda item: tm.sum_of((item, 1.0)),
    "iteration": lambda item: tm.mult_of(collections.deque([item])),
    "integer list": lambda item: tm.gcd_with_int([item, 4]),
    "argument": lambda item: tm.power(item, 2.0),
    "method": lambda item: tm.Tesmarmath(1.0).sum_of([item]).get_number(),
    "constructor": lambda item: tm.Tesmarmath(item).get_number(),
}


# Re-entry as deep as the limit lets it ends in RecursionError, never in a stack overflow. The
# sanitizer's frames are several times larger: that build runs with a larger stack.
def deep_reentry(route, limit):
    if sys.getallocatedblocks() == 0:  # PYTHONMALLOC=malloc: the sanitizer run
        _, most = resource.getrlimit(resource.RLIMIT_STACK)
        wanted = 2**26 if most == resource.RLIM_INFINITY else min(2**26, most)
        resource.setrlimit(resource.RLIMIT_STACK, (wanted, most))
    sys.setrecursionlimit(int(limit))
    print(outcome(lambda: DEEP[route](Reentering(route))).split(":")[0])


# A handler that moves an array's memory while the array is folded where it lies.
def resized_buffer(view):
    array = np.ones(2**27, dtype=np.int8)
    items = memoryview(array) if view == "memoryview" else array
    signal.signal(signal.SIGALRM, lambda signum, frame: array.resize(16, refcheck=False))
    signal.setitimer(signal.ITIMER_REAL, 0.01)
    print(outcome(lambda: tm.sum_of(items)))
    print(outcome(lambda: tm.Tesmarmath(0.0).sum_of(np.ones(4, dtype=np.int8)).get_number()))


class Recorder:
    """Records whether it converts after a signal handler raised, with that exception pending."""

    def __float__(self):
        if RAISED:
            CONVERTED_AFTER.append(self)
        return 1.0


RAISED, CONVERTED_AFTER = [], []


def raise_and_record(signum, frame):
    RAISED.append(signum)
    raise LookupError("now")


# A handler raises at the poll just before a Recorder: no conversion runs after it.
def conversion_after_raising_handler():
    period = [Recorder(), *[2**61] * (2**18 - 1)]  # big ints convert without Python code
    items = period * 128
    signal.signal(signal.SIGALRM, raise_and_record)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    print(outcome(lambda: tm.sum_of(items)), len(CONVERTED_AFTER))


SCENARIOS = {"long call": long_call, "clearing": clearing, "longer than memory": longer_than_memory}
SCENARIOS |= {"deep re-entry": deep_reentry, "resized buffer": resized_buffer}
SCENARIOS |= {"conversion after a raising handler": conversion_after_raising_handler}

if __name__ == "__main__":
    SCENARIOS[sys.argv[1]](*sys.argv[2:])
