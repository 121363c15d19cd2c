"""tesmar_math against its anchors (CPython's math module and builtins, numpy).

    python bench/bench.py               # full run: interleaved rounds, medians
    python bench/bench.py --quick       # a few short rounds, to prove it works
    python bench/bench.py --callgrind   # add instructions per call (valgrind)
    python bench/bench.py --callgrind --markdown docs/performance.md --data docs/figures/speed.json
                                        # publish: the performance page's table, the chart's data

Each pair's two statements run as timeit loops compiled from the same setup,
so both sides pay the same loop overhead. Every round times both sides back
to back (alternating which goes first) in CPU time of this process, and the
printed ratio is the median over rounds of tesmar time / anchor time. With
--callgrind, instructions per call come from one valgrind run: (count of 2N
calls - count of N calls) / N. Targets are goals, not gates: the exit status
is 0 whether they hold or not. See bench/README.md.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import timeit
from dataclasses import dataclass
from pathlib import Path

SETUP = """
import math, random
import tesmar_math as tm
rng = random.Random(11)
x = 2.5
y = 1.5
floats = [rng.random() for _ in range(1000)]
ints = [rng.randrange(1, 2**31) for _ in range(1000)]
t = tm.Tesmarmath(2.5)
one = tm.Tesmarmath(1.0)
square_root, floor, power, cos, sum_of = tm.square_root, tm.floor, tm.power, tm.cos, tm.sum_of
gcd_with_int, factorial, Tesmarmath = tm.gcd_with_int, tm.factorial, tm.Tesmarmath
sqrt, m_floor, m_pow, m_cos = math.sqrt, math.floor, math.pow, math.cos
fsum, gcd, m_factorial = math.fsum, math.gcd, math.factorial
"""


# Arrays of a million items, for the pairs that need them.
ARRAY_SETUP = """
import array
import numpy as np
# Factors around 1 whose logarithms average 0: the products stay normal
# doubles (a product that sinks into subnormals is slow on both sides).
data = np.exp(np.random.default_rng(11).uniform(-0.1, 0.1, 10**6))
as_array = array.array("d", data)
as_view = memoryview(data)
as_list = data.tolist()
# Multiples of 6: the gcd never reaches 1, where the fold may stop early.
int_data = np.array(ints * 1000, dtype=np.int64) * 6
int_list = int_data.tolist()
accumulate, multiply_accumulate = np.add.accumulate, np.multiply.accumulate
np_sum, np_prod = np.sum, np.prod
mult_of = tm.mult_of
"""


@dataclass(frozen=True)
class Pair:
    name: str
    tesmar: str
    anchor: str
    target: float
    weight: int = 1  # relative cost per call, to scale the loop count
    setup: str = ""  # more setup, after SETUP


PAIRS = [
    Pair("square_root(x) vs math.sqrt(x)", "square_root(x)", "sqrt(x)", 0.95),
    Pair("floor(x) vs math.floor(x)", "floor(x)", "m_floor(x)", 1.05),
    Pair("power(x, y) vs math.pow(x, y)", "power(x, y)", "m_pow(x, y)", 0.95),
    Pair("cos(1.0) vs math.cos(1.0)", "cos(1.0)", "m_cos(1.0)", 1.45),
    Pair("sum_of(lst) vs sum(lst), 1000 floats", "sum_of(floats)", "sum(floats)", 0.4, 100),
    Pair("sum_of(lst) vs math.fsum(lst), 1000 floats", "sum_of(floats)", "fsum(floats)", 0.3, 100),
    Pair(
        "gcd_with_int(lst) vs math.gcd(*lst), 1000 ints",
        "gcd_with_int(ints)",
        "gcd(*ints)",
        0.5,
        100,
    ),
    Pair("factorial(20) vs math.factorial(20)", "factorial(20)", "m_factorial(20)", 1.0),
    Pair("cos(number=x, terms=20) vs cos(x, 20)", "cos(number=x, terms=20)", "cos(x, 20)", 1.6),
    # `one` holds 1.0, so repeated squaring keeps the same value.
    Pair("t.square() vs x * x", "one.square()", "x * x", 1.8),
    Pair("t.get_number() vs x.__float__()", "t.get_number()", "x.__float__()", 0.5),
    Pair("Tesmarmath(x) vs complex(x)", "Tesmarmath(x)", "complex(x)", 0.8),
    # Two anchors for each array fold: numpy's accumulate keeps the same
    # left-to-right order (and writes every partial result); numpy.sum adds
    # pairwise in vector lanes, a different order and a different result.
    *(
        Pair(
            f"{fold}({name}) vs numpy.{anchor_name}(arr), 1M float64",
            f"{fold}({value})",
            f"{anchor}(data)",
            target,
            10**4,
            ARRAY_SETUP,
        )
        for fold, anchors in (
            ("sum_of", (("add.accumulate", "accumulate", 0.5), ("sum", "np_sum", 2.5))),
            (
                "mult_of",
                (("multiply.accumulate", "multiply_accumulate", 0.5), ("prod", "np_prod", 1.15)),
            ),
        )
        for name, value in (("arr", "data"), ("array('d')", "as_array"), ("memoryview", "as_view"))
        for anchor_name, anchor, target in anchors
    ),
    Pair(
        "sum_of(arr) vs sum_of(arr.tolist()), 1M float64",
        "sum_of(data)",
        "sum_of(as_list)",
        0.25,
        10**4,
        ARRAY_SETUP,
    ),
    Pair(
        "gcd_with_int(arr) vs gcd_with_int(arr.tolist()), 1M int64",
        "gcd_with_int(int_data)",
        "gcd_with_int(int_list)",
        0.5,
        10**4,
        ARRAY_SETUP,
    ),
]


def cpu_name() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def module_compiler(path: str) -> str:
    """The compiler recorded in the module's own binary (its ELF .comment)."""
    try:
        data = Path(path).read_bytes()
    except OSError:
        return "unknown compiler"
    match = re.search(rb"GCC: \([^)]*\) ([\d.]+)|(clang version [\d.]+)", data)
    if match is None:
        return "unknown compiler"
    return f"GCC {match.group(1).decode()}" if match.group(1) else match.group(2).decode()


def environment() -> dict[str, str]:
    import tesmar_math

    libc, libc_version = platform.libc_ver()
    system = (
        f"{platform.system()} {'.'.join(platform.release().split('.')[:2])} "
        f"{platform.machine()}" + (f" ({libc} {libc_version})" if libc else "")
    )
    return {
        "system": system,
        "cpu": f"{cpu_name()}, {os.cpu_count()} logical CPUs",
        "python": f"{platform.python_implementation()} {sys.version.split()[0]} "
        f"({platform.python_compiler()})",
        "module": tesmar_math.__file__ or "",
        "module_compiler": module_compiler(tesmar_math.__file__ or ""),
    }


def machine(env: dict[str, str]) -> list[str]:
    return [
        f"machine: {platform.platform()}, {env['cpu']}",
        f"python:  {env['python']}",
        f"module:  {env['module']} ({env['module_compiler']})",
    ]


def timers(pair: Pair) -> tuple[timeit.Timer, timeit.Timer]:
    # CPU time of this process: time spent preempted by other work on a busy
    # machine is not counted against either side.
    setup = SETUP + pair.setup
    return (
        timeit.Timer(pair.tesmar, setup, timer=time.process_time),
        timeit.Timer(pair.anchor, setup, timer=time.process_time),
    )


def loop_count(timer: timeit.Timer, seconds: float) -> int:
    """Loops that make one measurement take about `seconds`."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= seconds / 10:
            return max(1, int(number * seconds / elapsed))
        number *= 10


# Peak memory that sum_of adds over a large array, in a fresh process: the
# array is made (and its pages touched) first, so the growth of the
# process's peak resident size is what the call itself needed.
MEMORY_ITEMS = 20_000_000
MEMORY_SCRIPT = f"""
import resource
import numpy as np
import tesmar_math as tm
data = np.ones({MEMORY_ITEMS})
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
tm.sum_of(data)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print((after - before) / 1024)  # KiB to MiB
"""
MEMORY_TARGET_MIB = 16


def peak_memory_added() -> float:
    run = subprocess.run(
        [sys.executable, "-c", MEMORY_SCRIPT], capture_output=True, text=True, check=True
    )
    return float(run.stdout)


def readable_time(ns: float) -> str:
    """A time in ns, µs, ms or s, to three significant figures: 21.3 ns, 1.13 ms."""
    for unit, scale in (("ns", 1.0), ("µs", 1e3), ("ms", 1e6), ("s", 1e9)):
        value = float(f"{ns / scale:.3g}")
        if value < 1000 or unit == "s":
            break
    decimals = max(0, 2 - math.floor(math.log10(value))) if value > 0 else 0
    return f"{value:.{decimals}f} {unit}"


@dataclass
class Timing:
    tesmar_ns: float
    anchor_ns: float
    ratio: float


def measure(pairs: list[Pair], rounds: int, seconds: float) -> list[Timing]:
    prepared = []
    for pair in pairs:
        tesmar, anchor = timers(pair)
        number = loop_count(anchor, seconds)
        prepared.append((tesmar, anchor, number))
    samples: list[list[tuple[float, float]]] = [[] for _ in pairs]
    for round_index in range(rounds):
        for index, (tesmar, anchor, number) in enumerate(prepared):
            # Alternate the order so neither side always runs on a warm core.
            if round_index % 2 == 0:
                a, b = tesmar.timeit(number), anchor.timeit(number)
            else:
                b, a = anchor.timeit(number), tesmar.timeit(number)
            samples[index].append((a / number, b / number))
    result = []
    for rows in samples:
        result.append(
            Timing(
                tesmar_ns=statistics.median(a for a, _ in rows) * 1e9,
                anchor_ns=statistics.median(b for _, b in rows) * 1e9,
                ratio=statistics.median(a / b for a, b in rows),
            )
        )
    return result


# Callgrind: one valgrind run of this script in child mode. A call to
# os.getppid() (libc getppid) marks a boundary and makes callgrind dump its
# counters, so each loop's instructions land in a file of their own.
MARKER = "getppid"


def callgrind_child(calls: int, names: list[str]) -> None:
    for pair in PAIRS:
        if pair.name not in names:
            continue
        n = max(10, calls // pair.weight)
        for timer in timers(pair):
            timer.timeit(n)  # warm: specialisation, caches, lazy objects
            os.getppid()
            timer.timeit(n)
            os.getppid()
            timer.timeit(2 * n)
            os.getppid()


def callgrind(pairs: list[Pair], calls: int) -> list[tuple[float, float]]:
    """Instructions per call of each side: (cost of 2N calls - cost of N) / N."""
    with tempfile.TemporaryDirectory(prefix="tesmar-bench-") as directory:
        out = Path(directory) / "cg.out"
        command = [
            "valgrind",
            "--tool=callgrind",
            f"--dump-before={MARKER}",
            f"--callgrind-out-file={out}",
            sys.executable,
            __file__,
            "--callgrind-child",
            str(calls),
            "--",
            *[p.name for p in pairs],
        ]
        run = subprocess.run(command, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"valgrind failed:\n{run.stderr[-2000:]}")
        totals = {}
        for part in Path(directory).glob("cg.out.*"):
            match = re.search(r"^totals:\s*(\d+)", part.read_text(), re.MULTILINE)
            if match:
                totals[int(part.suffix[1:])] = int(match.group(1))
    result = []
    dump = 0
    for pair in pairs:
        n = max(10, calls // pair.weight)
        per_call = []
        for _side in range(2):
            once, twice = totals[dump + 2], totals[dump + 3]
            per_call.append((twice - once) / n)
            dump += 3
        result.append((per_call[0], per_call[1]))
    return result


@dataclass
class Result:
    pair: Pair
    timing: Timing | None
    count: tuple[float, float] | None

    @property
    def ir_ratio(self) -> float | None:
        return None if self.count is None else self.count[0] / self.count[1]

    @property
    def deciding_ratio(self) -> float | None:
        # The time ratio decides; without timing, the instruction ratio stands in.
        return self.timing.ratio if self.timing is not None else self.ir_ratio

    @property
    def holds(self) -> bool | None:
        ratio = self.deciding_ratio
        return None if ratio is None else ratio <= self.pair.target


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="few short rounds (CI smoke run)")
    parser.add_argument("--rounds", type=int, help="rounds per pair (default 41, quick 3)")
    parser.add_argument(
        "--callgrind", action="store_true", help="also count instructions per call under valgrind"
    )
    parser.add_argument(
        "--no-timing", action="store_true", help="with --callgrind: count instructions only"
    )
    parser.add_argument(
        "--calls", type=int, default=20000, help="calls per callgrind loop for the cheap pairs"
    )
    parser.add_argument("--only", default="", help="run the pairs whose name contains this")
    parser.add_argument(
        "--markdown",
        type=Path,
        metavar="FILE",
        help="rewrite the table between the bench markers in this Markdown file",
    )
    parser.add_argument(
        "--data",
        type=Path,
        metavar="FILE",
        help="write the results as JSON (what docs/figures.py draws)",
    )
    parser.add_argument("--callgrind-child", type=int, help=argparse.SUPPRESS)
    parser.add_argument("names", nargs="*", help=argparse.SUPPRESS)
    options = parser.parse_args()

    if options.callgrind_child is not None:
        callgrind_child(options.callgrind_child, options.names)
        return

    pairs = [p for p in PAIRS if options.only in p.name]
    rounds = options.rounds or (3 if options.quick else 41)
    seconds = 0.001 if options.quick else 0.005
    timing = not (options.no_timing and options.callgrind)
    env = environment()
    for line in machine(env):
        print(line)
    timings: list[Timing | None] = [None] * len(pairs)
    if timing:
        print(
            f"timing:  {rounds} interleaved rounds, ~{seconds * 1e3:g} ms of CPU time per "
            "measurement; ratio = median over rounds of tesmar / anchor"
        )
        timings = list(measure(pairs, rounds, seconds))
    counts: list[tuple[float, float] | None] = [None] * len(pairs)
    if options.callgrind:
        if shutil.which("valgrind") is None:
            print("callgrind: valgrind is not installed, no instruction counts")
        else:
            calls = options.calls // (10 if options.quick else 1)
            print(
                f"callgrind: instructions per call = (Ir of 2N calls - Ir of N calls) / N, "
                f"N = {calls} (list pairs N / 100)"
            )
            counts = list(callgrind(pairs, calls))
    results = [Result(*row) for row in zip(pairs, timings, counts, strict=True)]
    print()
    print(table(results))
    memory = peak_memory_added()
    print(f"\n{memory_line(memory)}")
    if options.markdown is not None:
        replace_between_markers(
            options.markdown,
            "bench",
            markdown(results, env, rounds if timing else 0) + "\n\n" + memory_line(memory),
        )
    if options.data is not None:
        options.data.parent.mkdir(parents=True, exist_ok=True)
        options.data.write_text(
            json.dumps(data(results, env, rounds if timing else 0, memory), indent=1) + "\n"
        )


def memory_line(mib: float) -> str:
    holds = "holds" if mib <= MEMORY_TARGET_MIB else "does NOT hold"
    return (
        f"Memory: `sum_of` over a numpy array of {MEMORY_ITEMS:,} float64 items raised the "
        f"process's peak resident size by {mib:.1f} MiB (target ≤ {MEMORY_TARGET_MIB} MiB: "
        f"{holds}; `ru_maxrss` before and after the call, in a fresh process)."
    )


def table(results: list[Result]) -> str:
    rows = [
        [
            "pair",
            "tesmar",
            "anchor",
            "ratio",
            "tesmar Ir",
            "anchor Ir",
            "Ir ratio",
            "target",
            "holds",
        ]
    ]
    for result in results:
        timing, count = result.timing, result.count
        row = [result.pair.name]
        if timing is not None:
            row += [
                readable_time(timing.tesmar_ns),
                readable_time(timing.anchor_ns),
                f"{timing.ratio:.2f}",
            ]
        else:
            row += ["-", "-", "-"]
        if count is not None:
            row += [f"{count[0]:.0f}", f"{count[1]:.0f}", f"{result.ir_ratio:.2f}"]
        else:
            row += ["-", "-", "-"]
        row += [f"<= {result.pair.target:g}", {None: "-", True: "yes", False: "NO"}[result.holds]]
        rows.append(row)
    keep = [i for i in range(len(rows[0])) if any(r[i] != "-" for r in rows[1:])]
    widths = [max(len(r[i]) for r in rows) for i in keep]
    lines = []
    for r in rows:
        cells = [
            r[i].ljust(w) if i == 0 else r[i].rjust(w) for i, w in zip(keep, widths, strict=True)
        ]
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


# Publishing: a generated block of a Markdown page sits between two marker
# lines, which stay.
def markers(name: str) -> tuple[str, str]:
    return f"<!-- {name}:start -->", f"<!-- {name}:end -->"


def replace_between_markers(path: Path, name: str, text: str) -> None:
    start_marker, end_marker = markers(name)
    old = path.read_text()
    start, end = old.find(start_marker), old.find(end_marker)
    if start < 0 or end < start:
        sys.exit(f"{path}: no {start_marker} ... {end_marker} block to replace")
    start += len(start_marker)
    path.write_text(old[:start] + "\n" + text + "\n" + old[end:])


def code_spans(name: str) -> str:
    """'f(x) vs g(x), 1000 floats' as Markdown: both calls in code, the note plain."""
    match = re.fullmatch(r"(.+?) vs (.+?)(, [^()]*)?", name)
    if match is None:
        return f"`{name}`"
    return f"`{match[1]}` vs `{match[2]}`{match[3] or ''}"


def markdown(results: list[Result], env: dict[str, str], rounds: int) -> str:
    timed = any(r.timing is not None for r in results)
    counted = any(r.count is not None for r in results)
    how = []
    if timed:
        how.append(
            f"{rounds} interleaved rounds, the time ratio is the median of "
            "tesmar time / anchor time"
        )
    if counted:
        how.append("Ir is valgrind's instruction count per call")
    command = "python bench/bench.py" + (" --callgrind" if counted else "")
    lines = [
        f"Measured side by side in one process by `make figures` (`{command}`): "
        + "; ".join(how)
        + ".",
        f"Machine: {env['system']}, {env['cpu']}. Python: {env['python']}. "
        f"Module: {env['module_compiler']}.",
        "",
    ]
    header = ["Pair"]
    if timed:
        header += ["tesmar time", "anchor time", "time ratio"]
    if counted:
        header += ["tesmar Ir", "anchor Ir", "Ir ratio"]
    header += ["target", "holds"]
    lines.append("| " + " | ".join(header) + " |")
    lines.append("|---|" + "---:|" * (len(header) - 2) + "---|")
    for r in results:
        cells = [code_spans(r.pair.name)]
        if timed:
            cells += (
                [
                    readable_time(r.timing.tesmar_ns),
                    readable_time(r.timing.anchor_ns),
                    f"{r.timing.ratio:.2f}",
                ]
                if r.timing
                else ["-"] * 3
            )
        if counted:
            cells += (
                [f"{r.count[0]:.0f}", f"{r.count[1]:.0f}", f"{r.ir_ratio:.2f}"]
                if r.count
                else ["-"] * 3
            )
        cells += [f"≤ {r.pair.target:g}", {None: "-", True: "yes", False: "**no**"}[r.holds]]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def data(
    results: list[Result], env: dict[str, str], rounds: int, memory_mib: float
) -> dict[str, object]:
    return {
        "environment": {k: v for k, v in env.items() if k != "module"},
        "rounds": rounds,
        "peak_memory_added_mib": round(memory_mib, 1),
        "pairs": [
            {
                "name": r.pair.name,
                "target": r.pair.target,
                "time_ratio": None if r.timing is None else round(r.timing.ratio, 4),
                "tesmar_ns": None if r.timing is None else round(r.timing.tesmar_ns, 2),
                "anchor_ns": None if r.timing is None else round(r.timing.anchor_ns, 2),
                "ir_ratio": None if r.ir_ratio is None else round(r.ir_ratio, 4),
                "holds": r.holds,
            }
            for r in results
        ],
    }


if __name__ == "__main__":
    main()
