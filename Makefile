# make demo   - build the module and run the tour
# make test   - build with warnings as errors, run every test (sanitizer
#               build, lint, stub checks and the tour included)
# Each target creates the virtual environment it needs.

SHELL := /bin/bash
PYTHON_313 := $(shell tools/find-python)
VENV ?= .venv
BIN := $(VENV)/bin
PY := $(BIN)/python
BUILD ?= build
ASAN_BUILD := $(BUILD)/asan

.PHONY: demo test install pytest symbols sanitize memcheck lint typecheck bench clean \
    figures figures-check release-check

$(VENV)/.ready: requirements-dev.txt
	@test -n "$(PYTHON_313)" || { echo "no Python 3.13 interpreter found" >&2; exit 1; }
	$(PYTHON_313) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet -r requirements-dev.txt
	touch $@

# The release build, installed into the virtual environment.
install: $(VENV)/.ready
	$(PY) -m pip install --quiet --no-build-isolation \
	    -Ccmake.define.TESMAR_WERROR=ON -Cbuild-dir=$(BUILD)/release .

demo: install
	$(PY) examples/tour.py

pytest: install
	$(PY) -m pytest -q -p no:cacheprovider

# The module defines one dynamic symbol, PyInit_tesmar_math (the linker's
# version script keeps the rest inside): $(call exports-only-init,FILE) fails,
# naming the others, if FILE defines more.
exports-only-init = set -o pipefail; so=$(1); \
    extra=$$(nm -D --defined-only $$so | awk '$$NF != "PyInit_tesmar_math" {print $$NF}') && \
    { test -z "$$extra" || { echo "$$so also exports:" $$extra >&2; false; }; }
symbols: install
	$(call exports-only-init,"$$($(PY) -c 'import tesmar_math; print(tesmar_math.__file__)')")

# AddressSanitizer and UndefinedBehaviorSanitizer, no recovery: the suite
# runs against this build, with the runtime of the compiler that CMake used
# (CMake writes its path) preloaded into the interpreter.
sanitize: $(VENV)/.ready
	$(BIN)/cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DTESMAR_SANITIZE=ON -DTESMAR_WERROR=ON >/dev/null
	$(BIN)/cmake --build $(ASAN_BUILD)
	$(call exports-only-init,$(ASAN_BUILD)/tesmar_math.*.so)
	PYTHONPATH=$(ASAN_BUILD) PYTHONMALLOC=malloc \
	    LD_PRELOAD="$$(cat $(ASAN_BUILD)/sanitizer-runtime)" \
	    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:max_free_fill_size=4096:free_fill_byte=85 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    $(PY) -m pytest -q -p no:cacheprovider -m "not no_sanitizer"

# valgrind memcheck over a part of the suite (slow: not part of `make test`).
MEMCHECK_TESTS ?= tests/test_leaks.py tests/test_surface.py tests/test_text_form.py \
    tests/test_allocation_failure.py
memcheck: install
	PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=1 -q \
	    --suppressions=tools/valgrind.supp \
	    $(PY) -m pytest -q -p no:cacheprovider $(MEMCHECK_TESTS)

# ruff over the Python; clang-format, then clang-tidy over every translation
# unit CMake compiles (the headers through them).
PYTHON_SOURCES := tests bench docs examples
lint: $(VENV)/.ready
	$(BIN)/ruff format --check $(PYTHON_SOURCES)
	$(BIN)/ruff check $(PYTHON_SOURCES)
	$(BIN)/clang-format --dry-run --Werror src/*/*.cpp src/*/*.hpp
	$(BIN)/cmake -S . -B $(BUILD)/tidy -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	$(BIN)/clang-tidy --quiet -p $(BUILD)/tidy $$($(PY) -c 'import json, sys; \
	    print(*(unit["file"] for unit in json.load(open(sys.argv[1]))))' \
	    $(BUILD)/tidy/compile_commands.json)

typecheck: install
	$(PY) -m mypy.stubtest tesmar_math
	$(PY) -m mypy --strict examples
	$(PY) examples/typing_demo.py
	$(PY) -m doctest README.md
	$(BIN)/basedpyright --pythonpath $(abspath $(PY)) examples

test: pytest symbols sanitize lint typecheck demo figures-check release-check

bench: install
	$(PY) bench/bench.py

# One benchmark run writes the README's performance table and the speed
# chart's data; then both figures are drawn into docs/figures and the
# README's accuracy table is rewritten (a few minutes).
FIGURES := docs/figures
figures: install
	$(PY) bench/bench.py --callgrind --readme README.md --data $(FIGURES)/speed.json
	$(PY) docs/figures.py --speed-data $(FIGURES)/speed.json --readme README.md --out $(FIGURES)

# The same steps, small and into a scratch folder, so that they cannot rot.
FIGURES_CHECK := $(BUILD)/figures-check
figures-check: install
	rm -rf $(FIGURES_CHECK) && mkdir -p $(FIGURES_CHECK) && cp README.md $(FIGURES_CHECK)/
	$(PY) bench/bench.py --quick --readme $(FIGURES_CHECK)/README.md \
	    --data $(FIGURES_CHECK)/speed.json >/dev/null
	$(PY) docs/figures.py --quick --speed-data $(FIGURES_CHECK)/speed.json \
	    --readme $(FIGURES_CHECK)/README.md --out $(FIGURES_CHECK)
	$(PY) bench/bench.py --quick --callgrind --no-timing --only "floor(x)" >/dev/null

# The release as a user gets it: `python -m build` makes the sdist and, from
# it, the wheel; the wheel goes into a fresh virtual environment outside the
# source tree, where mypy must find its stubs and the tour must run.
DIST := $(BUILD)/dist
release-check: $(VENV)/.ready
	rm -rf $(DIST)
	$(PY) -m build --outdir $(DIST) . >/dev/null
	set -e; scratch=$$(mktemp -d); trap 'rm -rf "$$scratch"' EXIT; \
	$(PYTHON_313) -m venv "$$scratch/venv"; \
	"$$scratch/venv/bin/python" -m pip install --quiet $(DIST)/*.whl; \
	cd "$$scratch"; \
	$(abspath $(PY)) -m mypy --strict --no-incremental \
	    --python-executable "$$scratch/venv/bin/python" $(abspath examples/typing_demo.py); \
	"$$scratch/venv/bin/python" $(abspath examples/tour.py) >/dev/null; \
	echo "release-check: $$(cd $(abspath $(DIST)) && ls) install, type-check and run the tour"

clean:
	rm -rf $(BUILD) $(VENV)
