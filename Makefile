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

.PHONY: demo test install pytest sanitize memcheck lint typecheck bench bench-quick clean

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

# AddressSanitizer and UndefinedBehaviorSanitizer, no recovery: the suite
# runs against this build, the ASan runtime preloaded into the interpreter.
sanitize: $(VENV)/.ready
	$(BIN)/cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DTESMAR_SANITIZE=ON -DTESMAR_WERROR=ON >/dev/null
	$(BIN)/cmake --build $(ASAN_BUILD)
	PYTHONPATH=$(ASAN_BUILD) PYTHONMALLOC=malloc \
	    LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libubsan.so)" \
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

lint: $(VENV)/.ready
	$(BIN)/clang-format --dry-run --Werror src/*/*.cpp src/*/*.hpp
	$(BIN)/cmake -S . -B $(BUILD)/tidy -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	$(BIN)/clang-tidy --quiet -p $(BUILD)/tidy src/*/*.cpp

typecheck: install
	$(PY) -m mypy.stubtest tesmar_math
	$(PY) -m mypy --strict examples
	$(PY) examples/typing_demo.py
	$(PY) -m doctest README.md
	$(BIN)/basedpyright --pythonpath $(abspath $(PY)) examples

test: pytest sanitize lint typecheck demo bench-quick

bench: install
	$(PY) bench/bench.py

# The benchmark's quick mode, to prove it runs: it asserts nothing about time.
bench-quick: install
	$(PY) bench/bench.py --quick
	$(PY) bench/bench.py --quick --callgrind --no-timing --only "floor(x)"

clean:
	rm -rf $(BUILD) $(VENV)
