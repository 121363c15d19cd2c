import os

import pytest
from hypothesis import HealthCheck, settings

UNTIMED = {"deadline": None, "suppress_health_check": [HealthCheck.too_slow]}
settings.register_profile("ci", max_examples=300, **UNTIMED)
settings.register_profile("deep", max_examples=20_000, **UNTIMED)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "no_sanitizer: skipped in the sanitizer build")
