import gc
import os
import sys
from collections.abc import Callable

import pytest
from hypothesis import HealthCheck, settings

settings.register_profile("ci", max_examples=300, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.register_profile("deep", max_examples=20_000, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "no_sanitizer: skipped in the sanitizer build")


def _calls(call: Callable[[], object], rounds: int) -> None:
    for _ in range(rounds):
        try:
            call()
        except BaseException:  # noqa: BLE001 - error paths are swept too
            pass


@pytest.fixture
def no_leak() -> Callable[..., None]:
    """Calls a callable thousands of times (success or error path alike) and
    fails if the interpreter's allocated blocks grow with the call count."""

    def check(call: Callable[[], object], rounds: int = 3000) -> None:
        if sys.getallocatedblocks() == 0:  # PYTHONMALLOC=malloc keeps no count
            _calls(call, 10)
            return
        _calls(call, rounds)  # warm caches and free lists
        gc.collect()
        before = sys.getallocatedblocks()
        _calls(call, rounds)
        gc.collect()
        grown = sys.getallocatedblocks() - before
        assert grown < rounds // 10, f"{grown} blocks leaked over {rounds} calls"

    return check
