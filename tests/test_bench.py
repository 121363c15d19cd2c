"""The benchmark runs end to end and prints one ratio per pair. It never
asserts on time: the figures belong to the machine, not to the test."""

import importlib.util
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

BENCH = Path(__file__).resolve().parent.parent / "bench" / "bench.py"


def pairs() -> list[str]:
    module_spec = importlib.util.spec_from_file_location("tesmar_bench", BENCH)
    assert module_spec is not None and module_spec.loader is not None
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = module  # dataclasses look their module up
    module_spec.loader.exec_module(module)
    return [pair.name for pair in module.PAIRS]


def run(*options: str) -> list[str]:
    result = subprocess.run([sys.executable, str(BENCH), *options], capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def row(lines: list[str], name: str) -> str:
    rows = [line for line in lines if line.startswith(name + "  ")]
    assert len(rows) == 1, (name, lines)
    return rows[0]


def test_quick_run_prints_machine_and_one_ratio_per_pair() -> None:
    lines = run("--quick")
    assert any(line.startswith("machine: ") for line in lines)
    assert any(line.startswith("python:  ") for line in lines)
    names = pairs()
    assert len(names) == 12
    for name in names:
        # times of both sides, their ratio, the target and whether it holds
        assert re.search(r"  \d+\.\d  +\d+\.\d  +\d+\.\d\d  +<= [\d.]+  +(yes|NO)$",
                         row(lines, name)), name


@pytest.mark.no_sanitizer
@pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed")
def test_callgrind_counts_instructions_per_call() -> None:
    lines = run("--quick", "--callgrind", "--no-timing", "--only", "floor(x)")
    # instructions of each side, their ratio, the target and whether it holds
    match = re.search(r"  (\d+)  +(\d+)  +\d+\.\d\d  +<= [\d.]+  +(yes|NO)$",
                      row(lines, "floor(x) vs math.floor(x)"))
    assert match is not None
    assert all(0 < int(count) < 10_000 for count in match.group(1, 2))
