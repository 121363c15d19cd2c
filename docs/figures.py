"""The figures and generated tables of docs/, drawn from the installed module.

    python docs/figures.py --speed-data docs/figures/speed.json --markdown docs/accuracy.md
    python docs/figures.py --quick --speed-data S.json --out DIR    # a small run (make test)

accuracy.svg  the series' largest error against Python's math.cos, math.sin and
              math.tan as the number of terms grows: on [-pi, pi], where the
              series decides, and at larger |x|, where the argument reduction
              decides.
              With --markdown, the table that sums it up is rewritten too,
              and so is the table of the sums' errors against math.fsum.
speed.svg     the benchmark's ratios, tesmar time / anchor time, with each
              pair's target; drawn from the JSON that `bench/bench.py --data`
              wrote in the same run as the performance page's table.

`make figures` runs the benchmark and then this script. The output is stable:
seeded samples, a fixed SVG id salt and no date, so regenerating the figures
changes the files only where the numbers changed.
"""

from __future__ import annotations

import argparse
import json
import math
import random
import statistics
import sys
from collections.abc import Callable, Iterable
from pathlib import Path
from typing import Any

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)
import numpy  # noqa: E402
import tesmar_math as tm  # noqa: E402
from matplotlib.axes import Axes  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.ticker import NullFormatter  # noqa: E402

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "bench"))
from bench import replace_between_markers  # noqa: E402

SAMPLES = 20_000  # in [-pi, pi]; a quarter of it near each larger |x|
TERMS = range(26)
DEFAULT_TERMS = 20
LARGE = (1e3, 1e6, 1e10, 1e14)
TAN_MIN_COS = 0.01  # tan is drawn where |tan x| <= 100: near its poles any error grows
ULP_OF_ONE = math.ulp(1.0)
FUNCTIONS: dict[str, tuple[Callable[[float, int], float], Callable[[float], float]]] = {
    "cos": (tm.cos, math.cos),
    "sin": (tm.sin, math.sin),
    "tan": (tm.tan, math.tan),
}
# The sums' accuracy: seeded lists of random floats in [0, 1), each summed
# three ways and compared with math.fsum, which is correctly rounded.
SUM_ITEMS = 1_000_000
SUM_SEEDS = range(1, 21)
SUMS: dict[str, Callable[[list[float]], float]] = {
    "`tesmar_math.sum_of(lst)`": tm.sum_of,
    "`numpy.sum(numpy.array(lst))`": lambda values: float(numpy.sum(numpy.array(values))),
    "`sum(lst)`": sum,
}
COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e"]


def error_units(got: float, want: float) -> float:
    """|got - want| in ulps of max(|want|, 1): plain ulps where |want| >= 1,
    units of 2**-52 below it, so a zero of the function does not turn an
    absolute error of 1e-16 into an unbounded count."""
    if got == want:
        return 0.0
    if math.isnan(got) or math.isinf(got):
        return math.inf
    return abs(got - want) / math.ulp(max(abs(want), 1.0))


def worst(samples: Iterable[float], names: Iterable[str], terms: int) -> float | None:
    """Largest error over the samples; None when the call raises (tan, terms=0)."""
    largest = 0.0
    for name in names:
        ours, reference = FUNCTIONS[name]
        for x in samples:
            try:
                got = ours(x, terms)
            except ZeroDivisionError:
                return None
            largest = max(largest, error_units(got, reference(x)))
    return largest


def accuracy_data(count: int) -> dict[str, dict[str, list[float | None]]]:
    rng = random.Random(20)
    around = [rng.uniform(-math.pi, math.pi) for _ in range(count)]
    around += [0.0, math.pi, -math.pi, math.pi / 2, -math.pi / 2, 1.0]
    near = {
        "cos": around,
        "sin": around,
        "tan": [x for x in around if abs(math.cos(x)) >= TAN_MIN_COS],
    }
    far = {}
    for magnitude in LARGE:
        samples = [
            rng.choice((-1.0, 1.0)) * magnitude * (1.0 + rng.random() / 10)
            for _ in range(count // 4)
        ]
        far[f"{magnitude:.0e}"] = [worst(samples, ("cos", "sin"), n) for n in TERMS]
    return {
        "near": {
            name: [worst(samples, (name,), n) for n in TERMS] for name, samples in near.items()
        },
        "far": far,
    }


def plot_lines(axes: Axes, lines: dict[str, list[float | None]], labels: dict[str, str]) -> None:
    for colour, (key, values) in zip(COLOURS, lines.items(), strict=False):
        # A raising call (tan, terms=0) leaves a gap; an exact result sits on the floor.
        points = [(n, max(v, 0.3)) for n, v in zip(TERMS, values, strict=True) if v is not None]
        axes.plot(
            [n for n, _ in points],
            [v for _, v in points],
            marker="o",
            markersize=3,
            color=colour,
            label=labels[key],
        )


def dress_terms_axis(axes: Axes) -> None:
    axes.set_yscale("log")
    axes.set_xlim(-0.5, TERMS[-1] + 0.5)
    axes.set_xticks(range(0, TERMS[-1] + 1, 5))
    axes.set_xlabel("terms")
    axes.axvline(DEFAULT_TERMS, color="0.35", linestyle="--", linewidth=1)
    axes.text(
        DEFAULT_TERMS + 0.3,
        0.97,
        "default: 20",
        transform=axes.get_xaxis_transform(),
        va="top",
        fontsize=9,
        color="0.25",
    )
    axes.grid(True, which="major", color="0.9")


def accuracy_figure(data: dict[str, dict[str, list[float | None]]], path: Path) -> None:
    figure, (near, far) = plt.subplots(1, 2, figsize=(11, 4.6), sharey=True, layout="constrained")
    plot_lines(
        near,
        data["near"],
        {
            "cos": "cos",
            "sin": "sin",
            "tan": f"tan (where |cos x| ≥ {TAN_MIN_COS:g})",
        },
    )
    near.set_title("On [−π, π]: the series decides")
    near.set_ylabel("largest error, in ulps of max(|f(x)|, 1)")
    near.legend(loc="lower left", fontsize=9)
    dress_terms_axis(near)

    plot_lines(far, data["far"], {key: "_" + key for key in data["far"]})  # labelled in place
    for colour, key in zip(COLOURS, data["far"], strict=False):
        floor = float(key) * 1e-16 / ULP_OF_ONE
        far.axhline(floor, color=colour, linestyle=":", linewidth=1)
        exponent = round(math.log10(float(key)))
        far.text(
            TERMS[-1],
            floor * 4,
            f"|x| ≈ $10^{{{exponent}}}$",
            ha="right",
            va="bottom",
            color=colour,
            fontsize=9,
        )
    far.plot([], [], color="0.4", linestyle=":", label="|x|·1e-16, the reduction's error")
    far.set_title("cos and sin at larger |x|: the reduction decides")
    far.legend(loc="upper left", fontsize=9)
    dress_terms_axis(far)
    far.set_ylim(0.3, 1e22)
    absolute = far.secondary_yaxis(
        "right", functions=(lambda u: u * ULP_OF_ONE, lambda a: a / ULP_OF_ONE)
    )
    absolute.set_ylabel("absolute error (cos, sin)")
    figure.suptitle("tesmar_math.cos / sin / tan against math.cos / sin / tan", fontsize=12)
    save(figure, path)


def settled(values: list[float | None]) -> int:
    """The fewest terms from which the largest error stays within 10% of
    where it ends: the number of terms worth asking for."""
    final = values[-1]
    assert final is not None
    n = len(values) - 1
    while n > 0 and (value := values[n - 1]) is not None and value <= 1.1 * final:
        n -= 1
    return n


def readable(value: float) -> str:
    """2 significant digits, as 0.012 or 7.8·10⁻¹⁶ (Markdown)."""
    if 1e-3 <= value < 1e4:
        return f"{float(f'{value:.2g}'):g}"
    mantissa, exponent = f"{value:.1e}".split("e")
    return f"{mantissa}·10<sup>{int(exponent)}</sup>".replace("-", "−")


def accuracy_table(data: dict[str, dict[str, list[float | None]]]) -> str:
    def row(where: str, functions: str, values: list[float | None], unit: str) -> str:
        largest = values[DEFAULT_TERMS]
        assert largest is not None
        error = {
            "ulps": f"{readable(largest)} ulps",
            "absolute": readable(largest * ULP_OF_ONE),
            "both": f"{readable(largest * ULP_OF_ONE)} ({readable(largest)} ulps)",
        }[unit]
        return f"| {where} | {functions} | {settled(values)} terms | {error} |"

    lines = [
        "| Arguments | Functions | Terms needed | Largest error at 20 terms |",
        "|---|---|---:|---:|",
        row("[−π, π]", "`cos`", data["near"]["cos"], "both"),
        row("[−π, π]", "`sin`", data["near"]["sin"], "both"),
        row(f"[−π, π] where \\|cos x\\| ≥ {TAN_MIN_COS:g}", "`tan`", data["near"]["tan"], "ulps"),
    ]
    for key, values in data["far"].items():
        exponent = round(math.log10(float(key)))
        lines.append(row(f"\\|x\\| ≈ 10<sup>{exponent}</sup>", "`cos`, `sin`", values, "absolute"))
    return "\n".join(lines)


def sum_errors(items: int, seeds: range) -> dict[str, Any]:
    """Each sum's error against math.fsum, in ulps of the correctly rounded
    sum, on one list of `items` floats from random.Random(seed) per seed."""
    errors: dict[str, list[float]] = {name: [] for name in SUMS}
    ulps = set()
    for seed in seeds:
        rng = random.Random(seed)
        values = [rng.random() for _ in range(items)]
        exact = math.fsum(values)
        ulps.add(math.ulp(exact))
        for name, add in SUMS.items():
            errors[name].append(abs(add(values) - exact) / math.ulp(exact))
    return {"items": items, "seeds": seeds, "ulps": sorted(ulps), "errors": errors}


def ulps_text(ulps: float) -> str:
    return f"{ulps:g} ulp" + ("" if ulps == 1 else "s")


def sums_table(data: dict[str, Any]) -> str:
    seeds, ulps = data["seeds"], data["ulps"]
    one_ulp = f" (one ulp is {readable(ulps[0])} on every list)" if len(ulps) == 1 else ""
    lines = [
        f"{len(seeds)} lists of {data['items']:,} floats from `random.Random(seed).random()`, "
        f"seeds {seeds.start} to {seeds.stop - 1}, each summed three ways; the error is "
        f"against `math.fsum`, which is correctly rounded, in ulps of that sum{one_ulp}.",
        "",
        "| Sum | Smallest error | Median error | Largest error |",
        "|---|---:|---:|---:|",
    ]
    for name, errors in data["errors"].items():
        cells = [min(errors), statistics.median(errors), max(errors)]
        lines.append(f"| {name} | " + " | ".join(map(ulps_text, cells)) + " |")
    return "\n".join(lines)


def speed_figure(data: dict[str, Any], path: Path) -> None:
    pairs = list(reversed(data["pairs"]))  # the first pair on top
    ratio_key = "time_ratio" if all(p["time_ratio"] is not None for p in pairs) else "ir_ratio"
    ratios = [p[ratio_key] for p in pairs]
    targets = [p["target"] for p in pairs]
    rows = range(len(pairs))
    figure, axes = plt.subplots(figsize=(10, 0.3 * len(pairs) + 1.9), layout="constrained")
    meets, misses = "#4c8bc4", "#e07b39"
    # Ratios on a logarithmic axis: twice as fast and twice as slow lie
    # equally far from 1, and ratios from a tenth to several all stay legible.
    low = min(*ratios, *targets) / 1.5
    high = max(*ratios, *targets) * 1.6
    axes.set_xscale("log")
    axes.set_xlim(low, high)
    axes.barh(
        rows,
        [ratio - low for ratio in ratios],
        left=low,
        height=0.66,
        color=[meets if r <= t else misses for r, t in zip(ratios, targets, strict=True)],
    )
    axes.plot(
        targets,
        rows,
        linestyle="none",
        marker="|",
        markersize=13,
        markeredgewidth=2.5,
        color="black",
    )
    axes.axvline(1.0, color="0.3", linewidth=1)
    axes.set_yticks(list(rows), [p["name"] for p in pairs], fontsize=8.5, family="monospace")
    axes.set_ylim(-0.6, len(pairs) - 0.4)
    ticks = [t for t in (0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20) if low <= t <= high]
    axes.set_xticks(ticks, [f"{t:g}" for t in ticks])
    axes.xaxis.set_minor_formatter(NullFormatter())
    what = "time" if ratio_key == "time_ratio" else "instructions"
    axes.set_xlabel(f"tesmar {what} / anchor {what} (logarithmic): shorter is faster")
    axes.grid(True, axis="x", color="0.9")
    axes.set_axisbelow(True)
    handles = [
        Patch(color=meets, label="meets its target"),
        Patch(color=misses, label="misses its target"),
        Line2D(
            [],
            [],
            linestyle="none",
            marker="|",
            markersize=12,
            markeredgewidth=2.5,
            color="black",
            label="target",
        ),
        Line2D([], [], color="0.3", linewidth=1, label="as fast as the anchor"),
    ]
    figure.legend(handles=handles, loc="outside lower center", ncols=4, fontsize=9, frameon=False)
    environment = data["environment"]
    cpu = environment["cpu"].replace("(R)", "").replace("(TM)", "")
    rounds = f"median of {data['rounds']} interleaved rounds, " if data["rounds"] else ""
    figure.suptitle(
        "tesmar_math against the standard library and numpy\n"
        f"{rounds}{cpu}, {environment['python']}",
        fontsize=10,
    )
    label_bars(figure, axes, rows, ratios, targets)
    save(figure, path)


def label_bars(
    figure: Figure, axes: Axes, rows: range, ratios: list[float], targets: list[float]
) -> None:
    """Each bar's ratio, inside its end where it fits clear of the target's
    mark, else just right of the bar (and of the mark, if that is in the way).
    Widths are measured on the drawn figure, so no label crosses the axis."""
    figure.canvas.draw()  # fixes the layout, so that display sizes hold
    to_data = axes.transData.inverted()

    def span(x: float, width_px: float) -> float:
        """The data x that lies width_px display pixels right of x."""
        start = axes.transData.transform((x, 0))[0]
        return float(to_data.transform((start + width_px, 0))[0])

    low = axes.get_xlim()[0]
    style = {"va": "center", "fontsize": 8, "fontweight": "bold"}
    for row, ratio, target in zip(rows, ratios, targets, strict=True):
        text = axes.text(ratio, row, f"{ratio:.2f}", **style)
        width = text.get_window_extent().width
        text.remove()
        pad = 4.0  # pixels
        mark = 5.0  # half the target mark's width, in pixels
        # Inside: the label spans [start, ratio - pad] and needs the bar under it.
        start = span(ratio, -(width + pad))
        if start > span(low, pad) and not span(start, -mark) < target < span(ratio, mark):
            axes.text(span(ratio, -pad), row, f"{ratio:.2f}", ha="right", color="white", **style)
            continue
        # Outside: past the bar's end, or past the mark when the label would cover it.
        x = span(ratio, pad)
        if span(ratio, -mark) <= target < span(x, width + mark):
            x = span(max(ratio, target), mark + pad)
        axes.text(x, row, f"{ratio:.2f}", ha="left", color="black", **style)


def save(figure: Figure, path: Path) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(path, metadata={"Date": None, "Creator": None})
    plt.close(figure)
    print(f"wrote {path}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--out",
        type=Path,
        default=HERE / "figures",
        help="folder for the SVGs (default docs/figures)",
    )
    parser.add_argument(
        "--speed-data", type=Path, required=True, help="the JSON written by bench/bench.py --data"
    )
    parser.add_argument(
        "--markdown",
        type=Path,
        metavar="FILE",
        help="rewrite the tables between the accuracy and sums markers in this Markdown file",
    )
    parser.add_argument("--quick", action="store_true", help="few samples (a smoke run)")
    options = parser.parse_args()
    plt.rcParams["svg.hashsalt"] = "tesmar_math"
    accuracy = accuracy_data(400 if options.quick else SAMPLES)
    accuracy_figure(accuracy, options.out / "accuracy.svg")
    if options.markdown is not None:
        replace_between_markers(options.markdown, "accuracy", accuracy_table(accuracy))
        sums = sum_errors(*((10_000, range(1, 4)) if options.quick else (SUM_ITEMS, SUM_SEEDS)))
        replace_between_markers(options.markdown, "sums", sums_table(sums))
    speed_figure(json.loads(options.speed_data.read_text()), options.out / "speed.svg")


if __name__ == "__main__":
    main()
