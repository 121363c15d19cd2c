# make demo   - build the module and run the tour
# make test   - build with warnings as errors, run every test (sanitizer
#               build, lint, stub checks, the tour, and both release wheels,
#               the aarch64 one under emulation, included): what CI runs
# make check  - the same but the release wheels: what a contributor runs often
# Each target creates the virtual environment it needs.

SHELL := /bin/bash
PYTHON_313 := $(shell tools/find-python)
VENV ?= .venv
BIN := $(VENV)/bin
PY := $(BIN)/python
BUILD ?= build
ASAN_BUILD := $(BUILD)/asan

.PHONY: demo test check install pytest symbols sanitize memcheck lint typecheck bench clean \
    figures figures-check release-dist release-check \
    release-check-aarch64 fuzz-build fuzz fuzz-replay fuzz-smoke fuzz-merge coverage

# Two lists, one environment: the build list (the backend, CMake, Ninja) is
# all that `make demo` needs; the development list adds every check's tools
# on top of it for `make test` and the targets below.
DEV := $(VENV)/.dev-ready
$(VENV)/.ready: requirements-build.txt
	@test -n "$(PYTHON_313)" || { echo "no Python 3.13 interpreter found" >&2; exit 1; }
	$(PYTHON_313) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet -r requirements-build.txt
	touch $@

$(DEV): requirements-dev.txt requirements-test.txt requirements-release.txt $(VENV)/.ready
	$(PY) -m pip install --quiet -r requirements-dev.txt
	touch $@

# The release build, installed into the virtual environment.
install: $(VENV)/.ready
	$(PY) -m pip install --quiet --no-build-isolation \
	    -Ccmake.define.TESMAR_WERROR=ON -Cbuild-dir=$(BUILD)/release .

demo: install
	$(PY) examples/tour.py

pytest: install $(DEV)
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
sanitize: $(DEV)
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
memcheck: install $(DEV)
	PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=1 -q \
	    --suppressions=tools/valgrind.supp \
	    $(PY) -m pytest -q -p no:cacheprovider $(MEMCHECK_TESTS)

# ruff over the Python; clang-format, then clang-tidy over every translation
# unit CMake compiles (the headers through them).
PYTHON_SOURCES := tests bench docs examples fuzz
lint: $(DEV)
	$(BIN)/ruff format --check $(PYTHON_SOURCES)
	$(BIN)/ruff check $(PYTHON_SOURCES)
	$(BIN)/clang-format --dry-run --Werror src/*/*.cpp src/*/*.hpp
	$(BIN)/cmake -S . -B $(BUILD)/tidy -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	$(BIN)/clang-tidy --quiet -p $(BUILD)/tidy $$($(PY) -c 'import json, sys; \
	    print(*(unit["file"] for unit in json.load(open(sys.argv[1]))))' \
	    $(BUILD)/tidy/compile_commands.json)

typecheck: install $(DEV)
	$(PY) -m mypy.stubtest tesmar_math
	$(PY) -m mypy --strict examples
	$(PY) examples/typing_demo.py
	$(PY) -m doctest README.md docs/accuracy.md
	$(BIN)/basedpyright --pythonpath $(abspath $(PY)) examples

check: pytest symbols sanitize lint typecheck demo figures-check fuzz-smoke
test: check release-check release-check-aarch64

bench: install $(DEV)
	$(PY) bench/bench.py

# One benchmark run writes the performance page's table and the speed
# chart's data; then both charts are drawn into docs/figures and the accuracy
# page's tables are rewritten (a few minutes).
FIGURES := docs/figures
figures: install $(DEV)
	$(PY) bench/bench.py --callgrind --markdown docs/performance.md --data $(FIGURES)/speed.json
	$(PY) docs/figures.py --speed-data $(FIGURES)/speed.json --markdown docs/accuracy.md \
	    --out $(FIGURES)

# The same steps, small and into copies of the pages in a scratch folder, so
# that they cannot rot.
FIGURES_CHECK := $(BUILD)/figures-check
figures-check: install $(DEV)
	rm -rf $(FIGURES_CHECK) && mkdir -p $(FIGURES_CHECK)
	cp docs/performance.md docs/accuracy.md $(FIGURES_CHECK)/
	$(PY) bench/bench.py --quick --markdown $(FIGURES_CHECK)/performance.md \
	    --data $(FIGURES_CHECK)/speed.json >/dev/null
	$(PY) docs/figures.py --quick --speed-data $(FIGURES_CHECK)/speed.json \
	    --markdown $(FIGURES_CHECK)/accuracy.md --out $(FIGURES_CHECK)
	$(PY) bench/bench.py --quick --callgrind --no-timing --only "floor(x)" >/dev/null

# The release as a user gets it: `python -m build --sdist` makes the sdist and, from it, a wheel
# for x86_64 and one for aarch64 (cross-compiled), each compiled by zig's clang with its libc++
# linked in statically (cmake/zig-toolchain.cmake, zig from requirements-release.txt) against
# glibc 2.17's symbols, warnings as errors. The sdist must carry the license and pass twine;
# tools/check-wheel checks each wheel alike (a manylinux tag for glibc 2.17 or older, nothing
# bundled, the license, twine, PyInit_tesmar_math its one export, the C library's exp2, pow and
# cbrt by their base versions) and repairs it into the wheelhouse.
# - release-check: the x86_64 wheel goes into a fresh virtual environment outside the source
#   tree with the test requirements, where the whole suite runs against it, mypy must find its
#   stubs and the tour must run.
# - release-check-aarch64: the aarch64 wheel and the test requirements' aarch64 wheels (pip
#   fetches them for that platform; atheris has none, and the tests that need it skip) go into
#   folders on the path of Debian's CPython 3.13 for aarch64, run by QEMU's user-mode emulation
#   (tools/aarch64-python; cached in AARCH64, delete it to fetch again), where the tour and
#   AARCH64_TESTS run.
DIST := $(BUILD)/dist
WHEELHOUSE := $(DIST)/wheelhouse
AARCH64 ?= $(BUILD)/aarch64
ZIG_BUILD = -Ccmake.define.CMAKE_TOOLCHAIN_FILE=cmake/zig-toolchain.cmake \
    -Ccmake.define.TESMAR_ZIG_PYTHON=$(abspath $(PY)) -Ccmake.define.TESMAR_WERROR=ON
ZIG_AARCH64 = -Ccmake.define.TESMAR_ZIG_ARCH=aarch64 -Cwheel.tags=cp313-cp313-linux_aarch64 \
    -Ccmake.define.TESMAR_TARGET_ROOT=$(abspath $(AARCH64))/root
CHECK_WHEEL = PATH="$(abspath $(BIN)):$$PATH" PYTHON=$(abspath $(PY)) tools/check-wheel
# numpy's aarch64 wheels after 2.2 are manylinux_2_28 (Debian 13's glibc is 2.41).
AARCH64_PIP = $(PY) -m pip install --quiet --only-binary=:all: --platform manylinux2014_aarch64 \
    --platform manylinux_2_28_aarch64 --python-version 3.13 --implementation cp
# Under emulation the suite runs many times slower (CONTRIBUTING.md gives the figures):
# `make test` runs all of it there but the hostile calls of tests/test_fuzz.py (a third of the
# time; the corpus replay skips without atheris anyway); `make release-check-aarch64
# AARCH64_TESTS=tests` runs them too.
AARCH64_TESTS ?= $(filter-out tests/test_fuzz.py,$(sort $(wildcard tests/test_*.py)))

$(AARCH64)/ready: tools/aarch64-python
	tools/aarch64-python $(AARCH64)

$(AARCH64)/site/.ready: requirements-test.txt Makefile $(AARCH64)/ready $(VENV)/.ready
	rm -rf $(AARCH64)/site
	grep -v '^atheris' requirements-test.txt > $(AARCH64)/requirements-test.txt
	$(AARCH64_PIP) --target $(AARCH64)/site -r $(AARCH64)/requirements-test.txt
	touch $@

release-dist: $(DEV) $(AARCH64)/ready
	rm -rf $(DIST) && mkdir -p $(DIST)
	$(PY) -m build --sdist --outdir $(DIST) . >/dev/null
	tar -tzf $(DIST)/*.tar.gz | grep -qE '^[^/]+/LICENSE$$' \
	    || { echo "release-dist: no LICENSE in the sdist" >&2; exit 1; }
	$(BIN)/twine check --strict $(DIST)/*.tar.gz
	tar -xzf $(DIST)/*.tar.gz -C $(DIST) && mv $(DIST)/tesmar_math-*/ $(DIST)/source
	$(PY) -m build --wheel $(ZIG_BUILD) --outdir $(DIST)/x86_64 $(DIST)/source >/dev/null
	$(PY) -m build --wheel $(ZIG_BUILD) $(ZIG_AARCH64) --outdir $(DIST)/aarch64 \
	    $(DIST)/source >/dev/null
	$(CHECK_WHEEL) $(DIST)/x86_64/*.whl x86_64 $(WHEELHOUSE) LICENSE >/dev/null
	$(CHECK_WHEEL) $(DIST)/aarch64/*.whl aarch64 $(WHEELHOUSE) LICENSE >/dev/null
	echo "release-dist: $$(cd $(DIST) && ls *.tar.gz) and, from it, $$(cd $(WHEELHOUSE) && ls)"

release-check: release-dist
	set -e; scratch=$$(mktemp -d); trap 'rm -rf "$$scratch"' EXIT; \
	$(PYTHON_313) -m venv "$$scratch/venv"; \
	"$$scratch/venv/bin/python" -m pip install --quiet -r requirements-test.txt \
	    $(WHEELHOUSE)/*_x86_64.whl; \
	cd "$$scratch"; \
	so=$$(venv/bin/python -c 'import tesmar_math; print(tesmar_math.__file__)'); \
	case "$$so" in "$$scratch"/venv/*) ;; *) echo "release-check: tesmar_math is $$so," \
	    "not the wheel's" >&2; exit 1;; esac; \
	$(abspath $(PY)) -m mypy --strict --no-incremental \
	    --python-executable "$$scratch/venv/bin/python" $(abspath examples/typing_demo.py); \
	"$$scratch/venv/bin/python" $(abspath examples/tour.py) >/dev/null; \
	"$$scratch/venv/bin/python" -m pytest -q -p no:cacheprovider $(abspath tests); \
	echo "release-check: the x86_64 wheel installs, type-checks, runs the tour and passes the suite"

release-check-aarch64: release-dist $(AARCH64)/site/.ready
	rm -rf $(AARCH64)/wheel
	$(AARCH64_PIP) --no-deps --target $(AARCH64)/wheel $(WHEELHOUSE)/*_aarch64.whl
	set -e; cd $(AARCH64); \
	export PYTHONPATH=$(abspath $(AARCH64))/wheel:$(abspath $(AARCH64))/site; \
	so=$$(./python3.13 -c 'import tesmar_math; print(tesmar_math.__file__)'); \
	case "$$so" in $(abspath $(AARCH64))/wheel/*) ;; *) echo "release-check-aarch64:" \
	    "tesmar_math is $$so, not the wheel's" >&2; exit 1;; esac; \
	./python3.13 $(abspath examples/tour.py) >/dev/null; \
	./python3.13 -m pytest -q -p no:cacheprovider $(addprefix $(abspath .)/,$(AARCH64_TESTS)); \
	echo "release-check-aarch64: the aarch64 wheel runs the tour and passes $(AARCH64_TESTS)" \
	    "in CPython for aarch64 under QEMU"

# Coverage-guided fuzzing: libFuzzer, through atheris, drives fuzz/harness.py, one call of any
# callable an input, against the module built by zig's clang (Debian's clang 16 lacks C++23
# parts that the sources use) with libFuzzer's counters, AddressSanitizer and
# UndefinedBehaviorSanitizer, no recovery, all in one run: atheris's asan_with_fuzzer.so,
# preloaded into the interpreter, is libFuzzer and AddressSanitizer's runtime (the one runtime
# a preload can add beside libFuzzer), and zig links its own UndefinedBehaviorSanitizer handlers
# into the module, where a report aborts and libFuzzer keeps the input. FUZZ_JOBS processes
# share the corpus $(FUZZ_BUILD)/corpus, seeded from tests/fuzz/corpus (read only); findings go
# to $(FUZZ_BUILD)/findings, each job's log to $(FUZZ_BUILD)/fuzz-N.log. `make fuzz-merge`
# minimises both corpora into tests/fuzz/corpus, which the suite replays. libFuzzer starts its
# jobs by running the harness itself, so the virtual environment's python3 comes first on PATH.
FUZZ_BUILD := $(BUILD)/fuzz
FUZZ_SECONDS ?= 600
FUZZ_JOBS ?= 1
FUZZ_CORPUS := tests/fuzz/corpus
# The instrumented build's frames are several times the release build's: the deepest re-entry the
# harness draws (about 3,300 nested calls) needs more than 8 MiB of stack there.
FUZZ_RUN = cd $(FUZZ_BUILD) && ulimit -s 65536 && PATH="$(abspath $(BIN)):$$PATH" \
    PYTHONPATH=$(abspath $(FUZZ_BUILD)) PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 \
    LD_PRELOAD="$$($(abspath $(PY)) -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so" \
    $(abspath fuzz/harness.py)
FUZZ_SUMMARY = cd $(FUZZ_BUILD) && grep -hE 'INITED|DONE|executed_units|new_units' fuzz*.log; \
    echo "fuzz: corpus $$(ls corpus | wc -l) inputs; findings $$(ls findings | wc -l) (findings/)"
fuzz-build: $(DEV)
	CXX="$$($(PY) -c 'import ziglang, pathlib; print(pathlib.Path(ziglang.__file__).with_name("zig"))') c++" \
	    $(BIN)/cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DTESMAR_FUZZ=ON -DTESMAR_WERROR=ON >/dev/null
	$(BIN)/cmake --build $(FUZZ_BUILD)

fuzz: fuzz-build
	rm -rf $(FUZZ_BUILD)/findings $(FUZZ_BUILD)/fuzz*.log
	mkdir -p $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/findings
	$(FUZZ_RUN) $(if $(filter-out 1,$(FUZZ_JOBS)),-jobs=$(FUZZ_JOBS) -workers=$(FUZZ_JOBS)) \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=20 -print_final_stats=1 -artifact_prefix=findings/ \
	    corpus $(abspath $(FUZZ_CORPUS)) >fuzz.log 2>&1 || { tail -n 60 fuzz*.log; false; }
	$(FUZZ_SUMMARY)
	test -z "$$(ls $(FUZZ_BUILD)/findings)"

# One input again, a finding say: make fuzz-replay FUZZ_INPUT=build/fuzz/findings/crash-...
fuzz-replay: fuzz-build
	$(FUZZ_RUN) $(abspath $(FUZZ_INPUT))

# What `make test` runs: a minute of fuzzing.
fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=60 FUZZ_JOBS=1

fuzz-merge: fuzz-build
	rm -rf $(FUZZ_BUILD)/merged && mkdir -p $(FUZZ_BUILD)/merged $(FUZZ_BUILD)/corpus $(FUZZ_CORPUS)
	$(FUZZ_RUN) -merge=1 merged $(abspath $(FUZZ_CORPUS)) corpus >$(abspath $(FUZZ_BUILD))/merge.log 2>&1 \
	    || { tail -n 40 $(abspath $(FUZZ_BUILD))/merge.log; false; }
	echo "fuzz-merge: $(FUZZ_CORPUS) $$(ls $(FUZZ_CORPUS) | wc -l) inputs and" \
	    "$(FUZZ_BUILD)/corpus $$(ls $(FUZZ_BUILD)/corpus | wc -l) merged into" \
	    "$$(ls $(FUZZ_BUILD)/merged | wc -l)"
	rm -f $(FUZZ_CORPUS)/* && cp $(FUZZ_BUILD)/merged/* $(FUZZ_CORPUS)/

# Line and branch coverage of src/ under the suite, the corpus's replay included: GCC's
# counters in their own build, read by gcovr (throw and unreachable branches left out, the
# lines of template instances merged). Prints the summary; writes an HTML report and the list
# of unrun lines with their text, which docs/coverage.md accounts for.
COVERAGE_BUILD := $(BUILD)/coverage
coverage: $(DEV)
	$(BIN)/cmake -S . -B $(COVERAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DTESMAR_COVERAGE=ON >/dev/null
	$(BIN)/cmake --build $(COVERAGE_BUILD)
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	# Unoptimised frames: the deepest re-entry the fuzzer's corpus draws needs more than 8 MiB.
	ulimit -s 65536 && PYTHONPATH=$(COVERAGE_BUILD) $(PY) -m pytest -q -p no:cacheprovider
	mkdir -p $(COVERAGE_BUILD)/html
	$(BIN)/gcovr $(COVERAGE_BUILD) --root . --filter src/ --merge-lines --exclude-throw-branches \
	    --exclude-unreachable-branches --html-details $(COVERAGE_BUILD)/html/index.html \
	    --json $(COVERAGE_BUILD)/coverage.json --print-summary --txt
	$(PY) tools/unrun-lines $(COVERAGE_BUILD)/coverage.json > $(COVERAGE_BUILD)/unrun.txt
	echo "coverage: $(COVERAGE_BUILD)/html/index.html; unrun lines: $(COVERAGE_BUILD)/unrun.txt"

clean:
	rm -rf $(BUILD) $(VENV)
